#include "platform/AppFolders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "platform/Args.h"
#include "platform/ExeDir.h"

#ifndef QV_PRIVATE_LIBDIR
#define QV_PRIVATE_LIBDIR "lib/quorvane"
#endif
#ifndef QV_SYSCONF_DIR
#define QV_SYSCONF_DIR "etc/quorvane"
#endif

namespace platform {

const char* const kNoStateFolderBecause = "neither XDG_STATE_HOME nor a home folder is known";

namespace {

namespace fs = std::filesystem;

// XDG says relative values are to be ignored.
std::string XdgDir(const std::string& value, const std::string& home, const char* fallback) {
    if (!value.empty() && value.front() == '/') {
        return value;
    }
    return home.empty() ? std::string() : home + "/" + fallback;
}

std::string HomeDir() {
    std::string home = EnvText("HOME");
    if (home.empty()) {
        if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr) {
            home = pw->pw_dir;
        }
    }
    return home;
}

}  // namespace

std::string PrivateLibDirFor(const std::string& exeDir) {
    return (fs::path(exeDir.empty() ? "." : exeDir) / ".." / QV_PRIVATE_LIBDIR)
        .lexically_normal()
        .string();
}

std::string SystemConfigDirFor(const std::string& exeDir) {
    const fs::path dir(QV_SYSCONF_DIR);
    if (dir.is_absolute()) {
        return dir.string();
    }
    return (fs::path(exeDir.empty() ? "." : exeDir) / ".." / dir).lexically_normal().string();
}

AppFolders DecideFolders(const FolderInputs& in) {
    AppFolders f;
    const std::string exeDir = in.exeDir.empty() ? std::string(".") : in.exeDir;
    f.libDir = in.installed ? PrivateLibDirFor(exeDir) : exeDir;
    if (!in.configDirOverride.empty()) {
        f.mode = FolderMode::Override;
        f.configDirs = {in.configDirOverride};
        f.stateDir = in.configDirOverride;
    } else if (in.installed) {
        f.mode = FolderMode::Installed;
        const std::string config = XdgDir(in.xdgConfigHome, in.home, ".config");
        if (!config.empty()) {
            f.configDirs.push_back(config + "/quorvane");
        }
        f.configDirs.push_back(SystemConfigDirFor(exeDir));
        const std::string state = XdgDir(in.xdgStateHome, in.home, ".local/state");
        f.stateDir = state.empty() ? std::string() : state + "/quorvane";
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
    in.xdgConfigHome = EnvText("XDG_CONFIG_HOME");
    in.xdgStateHome = EnvText("XDG_STATE_HOME");
    in.home = HomeDir();
    std::error_code ec;
    in.installed = fs::is_regular_file(fs::path(PrivateLibDirFor(in.exeDir)) / "libKorvel.so", ec);
    return in;
}

AppFolders CurrentFolders() {
    return DecideFolders(CurrentFolderInputs());
}

void SetConfigDirOverride(const std::string& dir) {
    if (dir.empty()) {
        ::unsetenv(kConfigDirEnv);
    } else {
        ::setenv(kConfigDirEnv, dir.c_str(), 1);
    }
}

}  // namespace platform
