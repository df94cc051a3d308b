// The parts of the folder rule that every system shares; the rule itself and
// what it reads from the process are in the system's own file.
#include "platform/AppFolders.h"

#include <vector>

#include "platform/ExeDir.h"
#include "platform/FileIo.h"
#include "platform/Paths.h"

namespace platform {
namespace {

// Creates the missing folders above `path`, outermost first.
bool MakeParents(const std::string& path) {
    std::vector<std::string> missing;
    for (std::string dir = DirOf(path); !dir.empty() && !InfoOf(dir, true).Exists();) {
        missing.push_back(dir);
        const std::string up = DirOf(dir);
        if (up == dir) {
            break;
        }
        dir = up;
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        if (MakeSharedDir(*it) == MakeDirResult::Failed) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string AppFolders::ConfigFile(const std::string& name) const {
    for (const auto& dir : configDirs) {
        const std::string path = JoinPath(dir, name);
        // A link that leads nowhere still counts: reading it will say why.
        if (InfoOf(path, false).Exists()) {
            return path;
        }
    }
    return JoinPath(configDirs.empty() ? std::string() : configDirs.front(), name);
}

std::string AppFolders::StateFile(const std::string& name) const {
    return JoinPath(stateDir, name);
}

bool MakeStateDir(const AppFolders& folders, std::string* error) {
    if (folders.mode != FolderMode::Installed) {
        return true;
    }
    auto fail = [&](const std::string& why) {
        if (error) {
            *error = why;
        }
        return false;
    };
    if (folders.stateDir.empty()) {
        return fail(std::string("no state folder: ") + kNoStateFolderBecause);
    }
    if (!InfoOf(folders.stateDir, false).Exists()) {
        // The parents may be shared with other programs: they keep the
        // default access; our own folder is private to the user.
        if (!MakeParents(folders.stateDir) ||
            MakePrivateDir(folders.stateDir) == MakeDirResult::Failed) {
            return fail("cannot create " + folders.stateDir);
        }
    }
    if (InfoOf(folders.stateDir, true).kind != FileInfo::Kind::Directory) {
        return fail(folders.stateDir + " is not a folder");
    }
    return true;
}

}  // namespace platform
