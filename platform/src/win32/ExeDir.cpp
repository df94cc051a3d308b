#include "platform/ExeDir.h"

#include <windows.h>

#include <mutex>
#include <vector>

#include "platform/WideText.h"

namespace platform {
namespace {
std::mutex g_overrideMutex;
std::string g_override;
}  // namespace

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

// Cut before the last backslash (or slash); a path in a drive's root gives the
// bare drive, "C:".
std::string DirOf(const std::string& path) {
    const auto pos = path.find_last_of("\\/");
    if (pos == std::string::npos) {
        return path;
    }
    return path.substr(0, pos);
}

std::string ExeDir() {
    {
        std::lock_guard lock(g_overrideMutex);
        if (!g_override.empty()) {
            return g_override;
        }
    }
    return DirOf(ExePath());
}

void SetExeDirOverride(const std::string& dir) {
    std::lock_guard lock(g_overrideMutex);
    g_override = dir;
}

}  // namespace platform
