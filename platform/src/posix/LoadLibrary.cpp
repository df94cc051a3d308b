#include "platform/DynLib.h"

#include <dlfcn.h>

namespace platform {

DynLib::DynLib(const std::string& path) {
    handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char* why = ::dlerror();
        error_ = why != nullptr ? why : "dlopen failed";
    }
}

void* DynLib::Symbol(const char* name) const {
    if (handle_ == nullptr || name == nullptr) {
        return nullptr;
    }
    return ::dlsym(handle_, name);
}

void DynLib::Unload() {
    if (handle_ != nullptr) {
        ::dlclose(handle_);
        handle_ = nullptr;
    }
}

}  // namespace platform
