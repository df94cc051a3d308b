#include "platform/DynLib.h"

#include <utility>

namespace platform {

DynLib::~DynLib() {
    Unload();
}

DynLib::DynLib(DynLib&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), error_(std::move(other.error_)) {}

DynLib& DynLib::operator=(DynLib&& other) noexcept {
    if (this != &other) {
        Unload();
        handle_ = std::exchange(other.handle_, nullptr);
        error_ = std::move(other.error_);
    }
    return *this;
}

}  // namespace platform
