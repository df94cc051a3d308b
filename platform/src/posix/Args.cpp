#include "platform/Args.h"

namespace platform {

std::vector<std::string> Utf8Args(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

}  // namespace platform
