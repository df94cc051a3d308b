#pragma once
// The network configuration shared by the device libraries and the simulator:
// `quorvane-net.conf`, "key = value" lines (docs/protocol.md lists the keys).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wire {

inline constexpr const char* kNetConfEnv = "QUORVANE_NET_CONF";
inline constexpr const char* kNetConfFileName = "quorvane-net.conf";
// Larger files are refused: the configuration is a handful of lines.
inline constexpr size_t kMaxNetConfBytes = 64 * 1024;
// Longest adapter choice taken (a Windows friendly name is at most 256 wide characters).
inline constexpr size_t kMaxAdapterChoice = 255;

// An adapter choice handed to a library: NULL leaves `choice` empty (the
// configuration's choice again). False for a text no adapter can have (too
// long, control characters).
bool ReadAdapterChoice(const char* text, std::optional<std::string>* choice);

struct NetConfig {
    std::string discoveryAddress = "255.255.255.255";
    uint16_t discoveryPort = 48620;
    uint16_t controlPort = 48621;
    uint16_t ipsetPort = 48622;
    std::string bindAddress = "0.0.0.0";
    int discoveryProbes = 3;
    int discoveryProbeIntervalMs = 300;
    int discoverySpreadMs = 200;
    int discoveryQuietMs = 1000;
    int discoveryDeadlineMs = 5000;
    int ipsetTimeoutMs = 1500;
    int ipsetAttempts = 3;
    int updateResultTimeoutMs = 120000;
    // How long an upgraded camera is waited for to come back; 0: not checked.
    int verifyTimeoutMs = 300000;
    // Probes a search by address sends a second at most: each unanswered
    // address costs the LAN an ARP request, and a switch may drop a burst.
    int scanRate = 500;
    std::string logFile = "korvel.log";
    // Key `interface`: the one adapter searched on, by name or address; empty,
    // every adapter. Not named `interface`: Windows headers define that word.
    std::string adapter;

    bool operator==(const NetConfig&) const = default;
};

// Defaults for a real LAN (an installed tool).
NetConfig LanDefaults();
// Defaults of the loopback lab: discovery to 127.255.255.255, short waits.
NetConfig LoopbackDefaults();
// What applies without any file: the loopback lab when the build says so
// (QV_NET_DEFAULT_LOOPBACK, on for builds from the source tree), else the LAN.
NetConfig BuiltInDefaults();

// Applies the lines of `text` over `base`. Unknown keys, malformed lines and
// out-of-range values leave `base`'s value and add a warning naming the line.
NetConfig ParseNetConfig(std::string_view text, const NetConfig& base,
                         std::vector<std::string>* warnings = nullptr);

// The configuration as a file text that ParseNetConfig reads back unchanged.
std::string FormatNetConfig(const NetConfig& config);

struct LoadedNetConfig {
    NetConfig config;
    std::string path;    // the file read; empty when the built-in defaults apply
    std::string dir;     // its folder, or the executable's folder without a file
    std::string logDir;  // where a relative log_file goes
    std::vector<std::string> warnings;
};

// QUORVANE_NET_CONF when set (a missing or unreadable file is then an error), else
// quorvane-net.conf in `exeDir` when it exists, else the built-in defaults.
// Returns nothing and fills `error` on failure.
std::optional<LoadedNetConfig> LoadNetConfig(const std::string& exeDir, std::string* error);

// QUORVANE_NET_CONF when set (its log then goes beside it, as in the labs), else
// quorvane-net.conf in the first of `dirs` that has one, else the built-in
// defaults. A relative log_file goes into `logDir`.
std::optional<LoadedNetConfig> LoadNetConfigFrom(const std::vector<std::string>& dirs,
                                                 const std::string& logDir, std::string* error);

// Reads one file over the built-in defaults.
std::optional<LoadedNetConfig> LoadNetConfigFile(const std::string& path, std::string* error);

}  // namespace wire
