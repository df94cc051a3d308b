#pragma once
// Sets an environment variable for a scope, then puts back what was there.

#include <cstdlib>
#include <optional>
#include <string>

#ifdef _WIN32
#include "platform/WideText.h"
#endif

namespace qvtest {

#ifdef _WIN32
// Wide, so that a UTF-8 value reaches the program's wide reads intact.
inline void SetEnv(const std::string& name, const std::string& value) {
    ::_wputenv_s(platform::Wide(name).c_str(), platform::Wide(value).c_str());
}
inline void UnsetEnv(const std::string& name) {
    ::_wputenv_s(platform::Wide(name).c_str(), L"");
}
#else
inline void SetEnv(const std::string& name, const std::string& value) {
    ::setenv(name.c_str(), value.c_str(), 1);
}
inline void UnsetEnv(const std::string& name) {
    ::unsetenv(name.c_str());
}
#endif

class ScopedEnv {
  public:
    ScopedEnv(std::string name, const std::string& value) : name_(std::move(name)) {
        if (const char* old = std::getenv(name_.c_str()); old != nullptr) {
            previous_ = old;
        }
        SetEnv(name_, value);
    }
    ~ScopedEnv() {
        if (previous_) {
            SetEnv(name_, *previous_);
        } else {
            UnsetEnv(name_);
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    std::string name_;
    std::optional<std::string> previous_;
};

}  // namespace qvtest
