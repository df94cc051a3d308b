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

}  // namespace platform
