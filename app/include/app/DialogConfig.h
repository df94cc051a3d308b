#pragma once

// What the dialog reads from outside itself: where its files are, and every
// key of config.ini's [config] section it uses, each read where it is read.

#include <cstdint>
#include <optional>
#include <string>

#include "engine/Canary.h"
#include "platform/AppFolders.h"
#include "platform/LocalTime.h"

namespace app {

inline constexpr const char* kDefaultIp = "192.168.0.10";

// Upgrade settings given on the command line; each one given takes the place
// of its config.ini key (the window's control, for the upgrades at once).
struct UpgradeSettings {
    std::optional<int> parallel;
    std::optional<std::uint32_t> maxFailures;
    std::optional<int> probeMs;
    std::optional<Canary> canary;
};

// Where config.ini is read and the day's log and the batch records written.
struct DialogPlaces {
    std::string configFile;
    std::string stateDir;  // "." when the rule gives none
    std::string logFile;   // YYYY_MM_DD.log of `today` in the state folder
};
// The folder rule (on `inputs`, the running process when not given), with
// `configDir` when given in place of both folders. Makes the state folder; a
// log that cannot be opened there says so when it is opened.
DialogPlaces SetUpPlaces(const std::optional<platform::FolderInputs>& inputs,
                         const std::string& configDir, const platform::LocalTime& today);

// upgrade_parallel, read at start for the window's control: nothing when the
// key is absent or cannot be used; then `why` holds the log line that says so
// (and the upgrade press refuses: ReadUpgradeLimits).
std::optional<int> ReadParallel(const std::string& configFile, std::string* why);

// Canary first as config.ini's upgrade_canary and --canary write it: a number
// of cameras (0, the default: off) or kCanaryPerHardware. Nothing when it is
// neither.
inline constexpr const char* kCanaryPerHardware = "per-hardware";
std::optional<Canary> ParseCanary(const std::string& text);
// upgrade_canary, read at start for the window's setting, as ReadParallel.
std::optional<Canary> ReadCanary(const std::string& configFile, std::string* why);

struct UpgradeLimits {
    std::uint32_t maxFailures = 0;
    int probeMs = 0;
};
// upgrade_max_failures and upgrade_probe_ms, read at every press like the
// default IP, and upgrade_parallel and upgrade_canary checked again; an override given takes the
// place of its key. A value that
// cannot be used refuses the request rather than be replaced by a guess:
// nothing, and `why` is the message.
std::optional<UpgradeLimits> ReadUpgradeLimits(const std::string& configFile,
                                               const UpgradeSettings& overrides, std::string* why);

// interface: the adapter the window searched on last ("" every adapter).
std::string ReadAdapterChoice(const std::string& configFile);
// Remembers it; false with `why` when config.ini cannot be written.
bool RememberAdapterChoice(const std::string& configFile, const std::string& key, std::string* why);

// defaultip, read at every press so that an edit takes effect at once; the
// built-in default when absent. An address no camera could be reached at
// refuses the request: nothing, and `why` is the message.
std::optional<std::string> ReadDefaultIp(const std::string& configFile, std::string* why);

}  // namespace app
