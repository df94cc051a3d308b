#include "platform/DynLib.h"

#include <windows.h>

#include "platform/WideText.h"

namespace platform {

DynLib::DynLib(const std::string& path) {
    // The library's own dependencies are looked up beside it, not in the
    // current folder.
    handle_ = ::LoadLibraryExW(Wide(path).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (handle_ == nullptr) {
        error_ = "LoadLibrary failed with error " + std::to_string(::GetLastError());
    }
}

void* DynLib::Symbol(const char* name) const {
    if (handle_ == nullptr || name == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(handle_), name));
}

void DynLib::Unload() {
    if (handle_ != nullptr) {
        ::FreeLibrary(static_cast<HMODULE>(handle_));
        handle_ = nullptr;
    }
}

}  // namespace platform
