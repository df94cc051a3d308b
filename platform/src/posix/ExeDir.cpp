#include "platform/ExeDir.h"

#include <limits.h>
#include <unistd.h>

#include <mutex>

namespace platform {
namespace {
std::mutex g_overrideMutex;
std::string g_override;
}  // namespace

std::string ExePath() {
    char buf[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    if (n <= 0) {
        return {};
    }
    return std::string(buf, static_cast<size_t>(n));
}

std::string DirOf(const std::string& path) {
    const auto pos = path.rfind('/');
    if (pos == std::string::npos) {
        return path;
    }
    return path.substr(0, pos);
}

std::string ExeDir() {
    {
        std::lock_guard lock(g_overrideMutex);
        if (!g_override.empty()) {
            return g_override;
        }
    }
    return DirOf(ExePath());
}

void SetExeDirOverride(const std::string& dir) {
    std::lock_guard lock(g_overrideMutex);
    g_override = dir;
}

}  // namespace platform
