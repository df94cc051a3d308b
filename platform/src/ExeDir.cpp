#include "platform/ExeDir.h"

#include <mutex>
#include <string_view>

#include "platform/FileIo.h"

namespace platform {
namespace {
std::mutex g_overrideMutex;
std::string g_override;
}  // namespace

// A path in a drive's root gives the bare drive, "C:".
std::string DirOf(const std::string& path) {
    const auto pos = path.find_last_of(kPathSeparators);
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
