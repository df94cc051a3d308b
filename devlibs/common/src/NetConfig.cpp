#include "wire/NetConfig.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "platform/Args.h"
#include "platform/FileIo.h"
#include "platform/Paths.h"
#include "platform/SafeFile.h"
#include "wire/Addr.h"

namespace wire {

bool ReadAdapterChoice(const char* text, std::optional<std::string>* choice) {
    choice->reset();
    if (text == nullptr) {
        return true;
    }
    const size_t n = strnlen(text, kMaxAdapterChoice + 1);
    if (n > kMaxAdapterChoice || std::any_of(text, text + n, [](char c) {
            return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
        })) {
        return false;
    }
    *choice = std::string(text, n);
    return true;
}

NetConfig LanDefaults() {
    return NetConfig{};
}

NetConfig LoopbackDefaults() {
    NetConfig c;
    c.discoveryAddress = "127.255.255.255";
    c.discoveryPort = 48720;
    c.controlPort = 48721;
    c.ipsetPort = 48722;
    c.discoveryProbes = 3;
    c.discoveryProbeIntervalMs = 100;
    c.discoverySpreadMs = 100;
    // Long enough that a loaded two-core test machine does not cut a search short.
    c.discoveryQuietMs = 700;
    c.discoveryDeadlineMs = 2500;
    c.ipsetTimeoutMs = 500;
    c.ipsetAttempts = 4;
    c.updateResultTimeoutMs = 60000;
    return c;
}

NetConfig BuiltInDefaults() {
#if defined(QV_NET_DEFAULT_LOOPBACK) && QV_NET_DEFAULT_LOOPBACK
    return LoopbackDefaults();
#else
    return LanDefaults();
#endif
}

namespace {

std::string_view Trim(std::string_view s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = s.find_last_not_of(" \t\r");
    return s.substr(first, last - first + 1);
}

bool ParseInt(std::string_view v, long lo, long hi, long* out) {
    long value = 0;
    const auto [ptr, ec] = std::from_chars(v.data(), v.data() + v.size(), value);
    if (ec != std::errc() || ptr != v.data() + v.size() || value < lo || value > hi) {
        return false;
    }
    *out = value;
    return true;
}

struct IntKey {
    const char* name;
    long lo;
    long hi;
    int NetConfig::*field;
};

struct PortKey {
    const char* name;
    uint16_t NetConfig::*field;
};

constexpr IntKey kIntKeys[] = {
    {"discovery_probes", 1, 20, &NetConfig::discoveryProbes},
    {"discovery_probe_interval_ms", 1, 10000, &NetConfig::discoveryProbeIntervalMs},
    {"discovery_spread_ms", 0, 10000, &NetConfig::discoverySpreadMs},
    {"discovery_quiet_ms", 10, 60000, &NetConfig::discoveryQuietMs},
    {"discovery_deadline_ms", 100, 120000, &NetConfig::discoveryDeadlineMs},
    {"ipset_timeout_ms", 10, 60000, &NetConfig::ipsetTimeoutMs},
    {"ipset_attempts", 1, 20, &NetConfig::ipsetAttempts},
    {"update_result_timeout_ms", 100, 3600000, &NetConfig::updateResultTimeoutMs},
    {"verify_timeout_ms", 0, 3600000, &NetConfig::verifyTimeoutMs},
    {"scan_rate", 50, 10000, &NetConfig::scanRate},
};

constexpr PortKey kPortKeys[] = {
    {"discovery_port", &NetConfig::discoveryPort},
    {"control_port", &NetConfig::controlPort},
    {"ipset_port", &NetConfig::ipsetPort},
};

}  // namespace

NetConfig ParseNetConfig(std::string_view text, const NetConfig& base,
                         std::vector<std::string>* warnings) {
    NetConfig c = base;
    auto warn = [&](size_t lineNo, const std::string& what) {
        if (warnings) {
            warnings->push_back("line " + std::to_string(lineNo) + ": " + what);
        }
    };
    size_t lineNo = 0;
    while (!text.empty()) {
        ++lineNo;
        const auto nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
        line = Trim(line);
        if (line.empty() || line.front() == '#' || line.front() == ';') {
            continue;
        }
        const auto eq = line.find('=');
        if (eq == std::string_view::npos) {
            warn(lineNo, "no '=' in \"" + std::string(line) + "\"");
            continue;
        }
        const std::string key(Trim(line.substr(0, eq)));
        const std::string_view value = Trim(line.substr(eq + 1));
        bool known = false;
        bool good = false;
        for (const auto& k : kIntKeys) {
            if (key == k.name) {
                known = true;
                long v = 0;
                if (ParseInt(value, k.lo, k.hi, &v)) {
                    c.*k.field = static_cast<int>(v);
                    good = true;
                } else {
                    warn(lineNo, key + " = \"" + std::string(value) + "\" is not a number in " +
                                     std::to_string(k.lo) + ".." + std::to_string(k.hi));
                }
            }
        }
        for (const auto& k : kPortKeys) {
            if (key == k.name) {
                known = true;
                long v = 0;
                if (ParseInt(value, 1, 65535, &v)) {
                    c.*k.field = static_cast<uint16_t>(v);
                    good = true;
                } else {
                    warn(lineNo, key + " = \"" + std::string(value) + "\" is not a port");
                }
            }
        }
        if (key == "discovery_address" || key == "bind_address") {
            known = true;
            if (ParseIpv4(value)) {
                (key == "discovery_address" ? c.discoveryAddress : c.bindAddress) =
                    std::string(value);
                good = true;
            } else {
                warn(lineNo, key + " = \"" + std::string(value) + "\" is not an IPv4 address");
            }
        } else if (key == "interface") {
            known = true;
            // An adapter's name is short and printable; anything else is a mistake.
            const bool printable = std::all_of(value.begin(), value.end(), [](char ch) {
                return static_cast<unsigned char>(ch) >= 0x20 && ch != 0x7F;
            });
            if (value.size() <= kMaxAdapterChoice && printable) {
                c.adapter = std::string(value);
                good = true;
            } else {
                warn(lineNo, "interface is too long or holds control characters");
            }
        } else if (key == "log_file") {
            known = true;
            if (!value.empty() && value.size() < 4096) {
                c.logFile = std::string(value);
                good = true;
            } else {
                warn(lineNo, "log_file is empty or too long");
            }
        }
        if (!known) {
            warn(lineNo, "unknown key \"" + key + "\"");
        }
        (void)good;
    }
    return c;
}

std::string FormatNetConfig(const NetConfig& c) {
    std::ostringstream out;
    out << "discovery_address = " << c.discoveryAddress << "\n";
    for (const auto& k : kPortKeys) {
        out << k.name << " = " << c.*k.field << "\n";
    }
    out << "bind_address = " << c.bindAddress << "\n";
    for (const auto& k : kIntKeys) {
        out << k.name << " = " << c.*k.field << "\n";
    }
    out << "log_file = " << c.logFile << "\n";
    out << "interface = " << c.adapter << "\n";
    return out.str();
}

std::optional<LoadedNetConfig> LoadNetConfigFile(const std::string& path, std::string* error) {
    // A regular file only: a FIFO would stop the start, a link may point anywhere.
    std::string why;
    const auto text = platform::ReadRegularFile(path, kMaxNetConfBytes, &why);
    if (!text) {
        if (error) {
            *error = "cannot read network configuration " + path + ": " + why;
        }
        return std::nullopt;
    }
    LoadedNetConfig out;
    out.config = ParseNetConfig(*text, BuiltInDefaults(), &out.warnings);
    out.path = path;
    out.dir = platform::Utf8Path(platform::FsPath(path).parent_path());
    if (out.dir.empty()) {
        out.dir = ".";
    }
    out.logDir = out.dir;
    return out;
}

std::optional<LoadedNetConfig> LoadNetConfigFrom(const std::vector<std::string>& dirs,
                                                 const std::string& logDir, std::string* error) {
    if (const std::string env = platform::EnvText(kNetConfEnv); !env.empty()) {
        return LoadNetConfigFile(env, error);
    }
    for (const auto& d : dirs) {
        const std::string path =
            platform::JoinPath(d.empty() ? std::string(".") : d, kNetConfFileName);
        // A link that leads nowhere is an error to report, not a reason to go on.
        if (platform::InfoOf(path, false).Exists()) {
            auto loaded = LoadNetConfigFile(path, error);
            if (loaded) {
                loaded->logDir = logDir.empty() ? "." : logDir;
            }
            return loaded;
        }
    }
    LoadedNetConfig out;
    out.config = BuiltInDefaults();
    out.dir = dirs.empty() || dirs.front().empty() ? "." : dirs.front();
    out.logDir = logDir.empty() ? "." : logDir;
    return out;
}

std::optional<LoadedNetConfig> LoadNetConfig(const std::string& exeDir, std::string* error) {
    const std::string dir = exeDir.empty() ? "." : exeDir;
    return LoadNetConfigFrom({dir}, dir, error);
}

}  // namespace wire
