#include "platform/Workspace.h"

#include <cstdio>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <utility>

#include "platform/Args.h"
#include "platform/FileIo.h"
#include "platform/Paths.h"

namespace platform {
namespace fs = std::filesystem;

namespace {
constexpr std::string_view kPrefix = "UpdatePacket_";
constexpr std::size_t kDigits = 17;

bool IsWorkspaceName(const std::string& name) {
    if (name.size() != kPrefix.size() + kDigits || name.compare(0, kPrefix.size(), kPrefix) != 0) {
        return false;
    }
    for (std::size_t i = kPrefix.size(); i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') {
            return false;
        }
    }
    return true;
}
}  // namespace

TempDirectory SystemTempDirectory() {
    TempDirectory dir{"/tmp", false};
    for (const char* name : {"TMPDIR", "TMP", "TEMP", "TEMPDIR"}) {
        if (std::string value = EnvText(name); !value.empty()) {
            dir.path = std::move(value);
            break;
        }
    }
    std::error_code ec;
    dir.exists = fs::is_directory(FsPath(dir.path), ec);
    dir.path = Utf8Path(FsPath(dir.path).lexically_normal());
    if (dir.path.size() > 1 &&
        std::string_view(kPathSeparators).find(dir.path.back()) != std::string_view::npos) {
        dir.path.pop_back();
    }
    return dir;
}

std::string WorkspaceRoot() {
    return JoinPath(SystemTempDirectory().path, PrivateFolderName());
}

std::string WorkspacePathFor(const LocalTime& t) {
    char name[64];
    std::snprintf(name, sizeof(name), "UpdatePacket_%04d%02d%02d%02d%02d%02d%03d", t.year, t.month,
                  t.day, t.hour, t.minute, t.second, t.millisecond);
    return JoinPath(WorkspaceRoot(), name);
}

bool IsToolWorkspace(const std::string& path) {
    if (path.empty()) {
        return false;
    }
    const fs::path p = FsPath(path).lexically_normal();
    fs::path leaf = p.filename();
    fs::path parent = p.parent_path();
    if (leaf.empty()) {  // a trailing separator
        leaf = parent.filename();
        parent = parent.parent_path();
    }
    if (!IsWorkspaceName(Utf8Path(leaf))) {
        return false;
    }
    std::error_code ec;
    const auto status = fs::symlink_status(parent / leaf, ec);
    if (ec || !fs::is_directory(status)) {
        return false;
    }
    // Compare real folders, so that ".." tricks or a linked parent cannot
    // point the removal somewhere else.
    const fs::path realParent = fs::canonical(parent.empty() ? fs::path(".") : parent, ec);
    if (ec) {
        return false;
    }
    const fs::path realRoot = fs::canonical(FsPath(WorkspaceRoot()), ec);
    if (ec) {
        return false;
    }
    return realParent == realRoot;
}

bool RemoveWorkspaceTree(const std::string& path) {
    if (!IsToolWorkspace(path)) {
        return false;
    }
    std::error_code ec;
    // remove_all does not follow symbolic links inside the tree.
    const auto removed = fs::remove_all(FsPath(path), ec);
    return !ec && removed != static_cast<std::uintmax_t>(-1) && removed > 0;
}

}  // namespace platform
