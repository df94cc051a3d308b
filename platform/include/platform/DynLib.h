#pragma once

#include <string>

namespace platform {

// A shared library loaded at run time; unloaded when destroyed.
class DynLib {
  public:
    DynLib() = default;
    explicit DynLib(const std::string& path);
    ~DynLib();
    DynLib(const DynLib&) = delete;
    DynLib& operator=(const DynLib&) = delete;
    DynLib(DynLib&& other) noexcept;
    DynLib& operator=(DynLib&& other) noexcept;

    bool Loaded() const { return handle_ != nullptr; }
    // Address of the export `name`, or null when it is missing or nothing is loaded.
    void* Symbol(const char* name) const;
    // Why the last load failed, empty after success.
    const std::string& Error() const { return error_; }
    void Unload();

  private:
    void* handle_ = nullptr;
    std::string error_;
};

}  // namespace platform
