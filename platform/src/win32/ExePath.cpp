#include "platform/ExeDir.h"

#include <windows.h>

#include <vector>

#include "platform/WideText.h"

namespace platform {
std::string ExePath() {
    // Long paths are allowed, so grow the buffer until the name fits.
    std::vector<wchar_t> buf(MAX_PATH);
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0) {
            return {};
        }
        if (n < buf.size()) {
            return Utf8(std::wstring_view(buf.data(), n));
        }
        if (buf.size() >= 32768) {
            return {};
        }
        buf.resize(buf.size() * 2);
    }
}

}  // namespace platform
