#include "platform/OpenInEditor.h"

#include <windows.h>

#include <shellapi.h>

#include <cstdlib>

#include "platform/WideText.h"

namespace platform {

bool OpenInEditor(const std::string& path) {
    const char* custom = std::getenv("QUORVANE_EDITOR");
    const std::wstring program =
        (custom != nullptr && *custom != '\0') ? Wide(custom) : std::wstring(L"notepad.exe");
    // The path is the whole parameter string, unquoted, as the Windows program
    // passes it.
    const HINSTANCE rc =
        ::ShellExecuteW(nullptr, L"open", program.c_str(), Wide(path).c_str(), nullptr, SW_SHOW);
    return reinterpret_cast<INT_PTR>(rc) > 32;
}

}  // namespace platform
