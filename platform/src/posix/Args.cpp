#include "platform/Args.h"

#include <cstdlib>

namespace platform {

std::vector<std::string> Utf8Args(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

std::string EnvText(const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr ? std::string(v) : std::string();
}

}  // namespace platform
