#include "platform/ExeDir.h"

#include <limits.h>
#include <unistd.h>

namespace platform {
std::string ExePath() {
    char buf[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    if (n <= 0) {
        return {};
    }
    return std::string(buf, static_cast<size_t>(n));
}

}  // namespace platform
