#include "platform/Args.h"

#include <windows.h>

#include <shellapi.h>

#include "platform/WideText.h"

namespace platform {

std::vector<std::string> Utf8Args(int argc, char** argv) {
    ::SetConsoleOutputCP(CP_UTF8);
    int n = 0;
    LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &n);
    if (wide == nullptr || n != argc) {
        if (wide != nullptr) {
            ::LocalFree(wide);
        }
        return std::vector<std::string>(argv, argv + argc);
    }
    std::vector<std::string> args;
    args.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        args.push_back(Utf8(wide[i]));
    }
    ::LocalFree(wide);
    return args;
}

// The process's own environment, in UTF-16: the C runtime's copy of it can
// lag behind a change made by the program and holds ANSI texts.
std::string EnvText(const char* name) {
    const std::wstring wname = Wide(name);
    const DWORD n = ::GetEnvironmentVariableW(wname.c_str(), nullptr, 0);
    if (n == 0) {
        return {};
    }
    std::wstring value(n, L'\0');
    const DWORD got = ::GetEnvironmentVariableW(wname.c_str(), value.data(), n);
    value.resize(got < n ? got : 0);
    return Utf8(value);
}

}  // namespace platform
