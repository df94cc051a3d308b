#pragma once
// Where the tool reads its configuration and writes its logs. One rule, used by
// the programs and by both device libraries:
//  - `--config-dir DIR` (passed on in QUORVANE_CONFIG_DIR): everything in DIR;
//  - run from a build tree: everything beside the executable;
//  - installed (the private library folder lib/<multiarch>/quorvane sits beside
//    the executable's bin/): configuration from $XDG_CONFIG_HOME/quorvane, then
//    /etc/quorvane (see SystemConfigDirFor); logs into $XDG_STATE_HOME/quorvane; the search helper
//    library from the private library folder.

#include <string>
#include <vector>

namespace platform {

inline constexpr const char* kConfigDirEnv = "QUORVANE_CONFIG_DIR";

enum class FolderMode { BuildTree, Installed, Override };

// What the rule looks at; CurrentFolderInputs() reads it from the process.
struct FolderInputs {
    std::string exeDir;             // folder of the running executable
    std::string configDirOverride;  // --config-dir, empty when not given
    std::string xdgConfigHome;
    std::string xdgStateHome;
    std::string home;
    bool installed = false;  // the private library folder is there
};

struct AppFolders {
    FolderMode mode = FolderMode::BuildTree;
    std::vector<std::string> configDirs;  // searched in this order, the user's first
    std::string stateDir;                 // the daily log and korvel.log
    std::string libDir;                   // libNimbrel.so

    // `name` in the first configuration folder that has it, else in the first
    // folder (where the user would put it).
    std::string ConfigFile(const std::string& name) const;
    // `name` in the state folder.
    std::string StateFile(const std::string& name) const;
};

// The rule itself, without looking at the disk.
AppFolders DecideFolders(const FolderInputs& in);

// The private library folder of an installed tree, for an executable in `exeDir`.
std::string PrivateLibDirFor(const std::string& exeDir);

// The system-wide configuration folder of an installed tree: /etc/quorvane for
// a tool installed under /usr, else etc/quorvane under the tree's root.
std::string SystemConfigDirFor(const std::string& exeDir);

FolderInputs CurrentFolderInputs();
AppFolders CurrentFolders();

// Makes `--config-dir DIR` reach the device libraries as well; empty clears it.
void SetConfigDirOverride(const std::string& dir);

// Why an installed tool has no state folder, in this system's terms.
extern const char* const kNoStateFolderBecause;

// Creates the state folder of an installed tool (mode 0700, as XDG asks) when it
// is missing. Other modes write into folders that already exist.
bool MakeStateDir(const AppFolders& folders, std::string* error);

}  // namespace platform
