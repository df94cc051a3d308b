#include "platform/AppFolders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "platform/ExeDir.h"

#ifndef QV_PRIVATE_LIBDIR
#define QV_PRIVATE_LIBDIR "lib/quorvane"
#endif
#ifndef QV_SYSCONF_DIR
#define QV_SYSCONF_DIR "etc/quorvane"
#endif

namespace platform {
namespace {

namespace fs = std::filesystem;

std::string Join(const std::string& dir, const std::string& name) {
    return dir.empty() ? name : dir + "/" + name;
}

// XDG says relative values are to be ignored.
std::string XdgDir(const std::string& value, const std::string& home, const char* fallback) {
    if (!value.empty() && value.front() == '/') {
        return value;
    }
    return home.empty() ? std::string() : home + "/" + fallback;
}

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr ? std::string(v) : std::string();
}

std::string HomeDir() {
    std::string home = Env("HOME");
    if (home.empty()) {
        if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr) {
            home = pw->pw_dir;
        }
    }
    return home;
}

}  // namespace

std::string AppFolders::ConfigFile(const std::string& name) const {
    for (const auto& dir : configDirs) {
        std::error_code ec;
        const std::string path = Join(dir, name);
        if (fs::exists(fs::symlink_status(path, ec))) {
            return path;
        }
    }
    return Join(configDirs.empty() ? std::string() : configDirs.front(), name);
}

std::string AppFolders::StateFile(const std::string& name) const {
    return Join(stateDir, name);
}

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
    in.configDirOverride = Env(kConfigDirEnv);
    in.xdgConfigHome = Env("XDG_CONFIG_HOME");
    in.xdgStateHome = Env("XDG_STATE_HOME");
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
        return fail("no state folder: neither XDG_STATE_HOME nor a home folder is known");
    }
    std::error_code ec;
    const fs::path dir(folders.stateDir);
    if (!fs::exists(dir, ec)) {
        // The parents (~/.local/state) may be shared with other programs: they
        // get the default mode; our own folder is private to the user.
        fs::create_directories(dir.parent_path(), ec);
        if (ec || (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)) {
            return fail("cannot create " + folders.stateDir);
        }
    }
    if (!fs::is_directory(dir, ec)) {
        return fail(folders.stateDir + " is not a folder");
    }
    return true;
}

}  // namespace platform
