#include "platform/AppFolders.h"

#include <windows.h>

#include <cstdlib>

#include "platform/Args.h"
#include "platform/ExeDir.h"
#include "platform/FileIo.h"
#include "platform/Paths.h"
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

const char* const kNoStateFolderBecause = "LOCALAPPDATA is not set";

namespace {

constexpr const char* kInstalledMark = "quorvane.installed";

}  // namespace

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
            f.configDirs.push_back(JoinPath(in.xdgConfigHome, "Quorvane"));
        }
        f.configDirs.push_back(exeDir);
        const std::string local = !in.xdgStateHome.empty() ? in.xdgStateHome : in.xdgConfigHome;
        f.stateDir = local.empty() ? std::string() : JoinPath(local, "Quorvane");
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
    in.configDirOverride = EnvText(kConfigDirEnv);
    in.xdgConfigHome = EnvText("APPDATA");
    in.xdgStateHome = EnvText("LOCALAPPDATA");
    in.home = EnvText("USERPROFILE");
    in.installed = InfoOf(JoinPath(in.exeDir, kInstalledMark), false).Regular();
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

}  // namespace platform
