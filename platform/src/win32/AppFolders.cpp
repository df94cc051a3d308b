#include "platform/AppFolders.h"

#include <windows.h>

#include <cstdlib>

#include "platform/ExeDir.h"
#include "platform/FileIo.h"
#include "platform/WideText.h"

// The Windows rule:
//  - `--config-dir DIR`: everything in DIR;
//  - a portable copy (any folder without the installer's mark): everything
//    beside the executable, as the Windows program has it;
//  - installed (the installer leaves "quorvane.installed" beside the
//    executable; Program Files is not writable by the user): configuration
//    from %APPDATA%\Quorvane, then the defaults beside the executable; logs
//    into %LOCALAPPDATA%\Quorvane. The search helper library is always beside
//    the executable.
// The fields named after XDG carry %APPDATA% and %LOCALAPPDATA% here.

namespace platform {
namespace {

constexpr const char* kInstalledMark = "quorvane.installed";

std::string Join(const std::string& dir, const std::string& name) {
    if (dir.empty()) {
        return name;
    }
    const char last = dir.back();
    return (last == '\\' || last == '/') ? dir + name : dir + "\\" + name;
}

std::string Env(const char* name) {
    const wchar_t* v = ::_wgetenv(Wide(name).c_str());
    return v != nullptr ? Utf8(v) : std::string();
}

}  // namespace

std::string AppFolders::ConfigFile(const std::string& name) const {
    for (const auto& dir : configDirs) {
        const std::string path = Join(dir, name);
        if (InfoOf(path, false).Exists()) {
            return path;
        }
    }
    return Join(configDirs.empty() ? std::string() : configDirs.front(), name);
}

std::string AppFolders::StateFile(const std::string& name) const {
    return Join(stateDir, name);
}

std::string PrivateLibDirFor(const std::string& exeDir) {
    return exeDir;
}

std::string SystemConfigDirFor(const std::string& exeDir) {
    return exeDir;
}

AppFolders DecideFolders(const FolderInputs& in) {
    AppFolders f;
    const std::string exeDir = in.exeDir.empty() ? std::string(".") : in.exeDir;
    f.libDir = exeDir;
    if (!in.configDirOverride.empty()) {
        f.mode = FolderMode::Override;
        f.configDirs = {in.configDirOverride};
        f.stateDir = in.configDirOverride;
    } else if (in.installed) {
        f.mode = FolderMode::Installed;
        if (!in.xdgConfigHome.empty()) {
            f.configDirs.push_back(Join(in.xdgConfigHome, "Quorvane"));
        }
        f.configDirs.push_back(exeDir);
        const std::string local = !in.xdgStateHome.empty() ? in.xdgStateHome : in.xdgConfigHome;
        f.stateDir = local.empty() ? std::string() : Join(local, "Quorvane");
    } else {
        f.mode = FolderMode::BuildTree;
        f.configDirs = {exeDir};
        f.stateDir = exeDir;
    }
    return f;
}

FolderInputs CurrentFolderInputs() {
    FolderInputs in;
    in.exeDir = DirOf(ExePath());
    in.configDirOverride = Env(kConfigDirEnv);
    in.xdgConfigHome = Env("APPDATA");
    in.xdgStateHome = Env("LOCALAPPDATA");
    in.home = Env("USERPROFILE");
    in.installed = InfoOf(Join(in.exeDir, kInstalledMark), false).Regular();
    return in;
}

AppFolders CurrentFolders() {
    return DecideFolders(CurrentFolderInputs());
}

void SetConfigDirOverride(const std::string& dir) {
    // Both environments: the C runtime's, which getenv reads, and the process's.
    ::_wputenv_s(Wide(kConfigDirEnv).c_str(), Wide(dir).c_str());
    ::SetEnvironmentVariableW(Wide(kConfigDirEnv).c_str(),
                              dir.empty() ? nullptr : Wide(dir).c_str());
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
        return fail("no state folder: LOCALAPPDATA is not set");
    }
    if (MakePrivateDir(folders.stateDir) == MakeDirResult::Failed) {
        return fail("cannot create " + folders.stateDir);
    }
    if (InfoOf(folders.stateDir, true).kind != FileInfo::Kind::Directory) {
        return fail(folders.stateDir + " is not a folder");
    }
    return true;
}

}  // namespace platform
