#include "platform/WideText.h"

#include <windows.h>

#include <climits>

namespace platform {

std::wstring Wide(std::string_view utf8) {
    if (utf8.empty() || utf8.size() > INT_MAX) {
        return {};
    }
    const int len = static_cast<int>(utf8.size());
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), len, nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) {
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), len, out.data(), n);
    }
    return out;
}

namespace {
std::string Narrow(UINT codePage, std::wstring_view wide) {
    if (wide.empty() || wide.size() > INT_MAX) {
        return {};
    }
    const int len = static_cast<int>(wide.size());
    const int n =
        ::WideCharToMultiByte(codePage, 0, wide.data(), len, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) {
        ::WideCharToMultiByte(codePage, 0, wide.data(), len, out.data(), n, nullptr, nullptr);
    }
    return out;
}
}  // namespace

std::string Utf8(std::wstring_view wide) {
    return Narrow(CP_UTF8, wide);
}

std::string AnsiFromUtf8(std::string_view utf8) {
    return Narrow(CP_ACP, Wide(utf8));
}

}  // namespace platform
