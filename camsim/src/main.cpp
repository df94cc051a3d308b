// camsim: plays a fleet of network cameras for the tool, its tests and the labs.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <asio.hpp>

#include "camsim/FleetModel.h"
#include "camsim/Log.h"
#include "camsim/Simulator.h"
#include "platform/ExeDir.h"
#include "wire/NetConfig.h"

namespace {

const char* const kUsage =
    R"(usage: camsim [options]
  --count N              N cameras on consecutive addresses with distinct MACs
  --ip-base A.B.C.D      first address (default 127.0.1.1)
  --mac-base MAC         first MAC (default 02:51:56:00:00:01)
  --type T --sw S --hw H device type, software and hardware version
  --flash-ms MS          time a camera takes to flash an accepted file
  --reboot-ms MS         silence after flashing: no discovery answers, no control
                         sessions (default 0: none); then the new software version
  --no-hw-check          accept update packs whose application entry is named for
                         another hardware code (checked by default)
  --fleet FILE.json      cameras from a file (array, or {"defaults":{..},"cameras":[..]})
  --fault NAME[=VALUE]   a fault for every camera: refuse-connect, hang, drop-after=N,
                         drop-at-percent=P, throttle=BYTES_PER_S, fail-verify, refuse-clock,
                         refuse-ip-change, discovery-twice, silent, malformed, reply-delay=MS,
                         no-route, keep-version, never-back, no-reasons, old-ipset,
                         routed (answers only probes sent to its own address)
  --conf FILE            network configuration (default: $QUORVANE_NET_CONF, else
                         quorvane-net.conf beside camsim, else the built-in lab values)
  --discovery-port P --control-port P --ipset-port P
                         override the configuration's ports; 0 picks free ones
  --listen-address A     where the UDP sockets listen (default: the discovery address
                         when it is on loopback, else 0.0.0.0)
  --iface DEV            network-namespace mode: one camera, IP changes re-address DEV
  --dir DIR              received files, one folder per camera (default ./camsim-files)
  --max-file-size BYTES  larger files are refused (default 64 MiB)
  --log FILE             log file (default stderr)
  --ready-file FILE      written once every socket is bound
  --write-conf FILE      writes the tool's configuration with the ports in use
  --seed N               seed for the reply spread
When ready, camsim prints one line:
  camsim ready cameras=N discovery_port=P control_port=P ipset_port=P
It stops cleanly on SIGINT or SIGTERM.
)";

bool WriteAtomically(const std::string& path, const std::string& text) {
    const std::string tmp = path + ".tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out) {
            return false;
        }
    }
    std::error_code ec;
    std::filesystem::rename(tmp, path, ec);
    return !ec;
}

// Decimal digits only, at most `max`: a value that is not a number is refused,
// never read as 0.
bool ParseNumber(const std::string& text, std::uint64_t max, std::uint64_t& value) {
    if (text.empty() || text.size() > 19) {
        return false;
    }
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return value <= max;
}

int Fail(const std::string& message) {
    std::cerr << "camsim: " << message << "\n";
    return 2;
}

// The command line as given: every value still text, checked by main.
struct Words {
    std::optional<std::string> count, ipBase, macBase, type, sw, hw, flashMs, rebootMs, fleet, conf,
        ports[3], listenAddress, iface, dir, maxFileSize, log, readyFile, writeConf, seed;
    std::vector<std::string> faults;
    bool noHwCheck = false;
};

// Declares every option once. nullopt when the words parse, else the exit
// code, with the help printed (0) or the problem said (2).
std::optional<int> ParseWords(int argc, char** argv, Words& w) {
    CLI::App cli{"camsim", "camsim"};
    cli.allow_extras();  // said below in camsim's own words
    const std::pair<const char*, std::optional<std::string>*> options[] = {
        {"--count", &w.count},
        {"--ip-base", &w.ipBase},
        {"--mac-base", &w.macBase},
        {"--type", &w.type},
        {"--sw", &w.sw},
        {"--hw", &w.hw},
        {"--flash-ms", &w.flashMs},
        {"--reboot-ms", &w.rebootMs},
        {"--fleet", &w.fleet},
        {"--conf", &w.conf},
        {"--discovery-port", &w.ports[0]},
        {"--control-port", &w.ports[1]},
        {"--ipset-port", &w.ports[2]},
        {"--listen-address", &w.listenAddress},
        {"--iface", &w.iface},
        {"--dir", &w.dir},
        {"--max-file-size", &w.maxFileSize},
        {"--log", &w.log},
        {"--ready-file", &w.readyFile},
        {"--write-conf", &w.writeConf},
        {"--seed", &w.seed},
    };
    for (const auto& [name, into] : options) {
        cli.add_option(name, *into)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    }
    cli.add_option("--fault", w.faults)->allow_extra_args(false);
    cli.add_flag("--no-hw-check", w.noHwCheck);
    try {
        cli.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::cout << kUsage;
        return 0;
    } catch (const CLI::ArgumentMismatch& e) {
        const std::string what = e.what();
        return Fail(what.substr(0, what.find(':')) + " needs a value (or is unknown); see --help");
    } catch (const CLI::ParseError& e) {
        return Fail(std::string(e.what()) + "; see --help");
    }
    if (const auto rest = cli.remaining(); !rest.empty()) {
        return Fail(rest.size() == 1
                        ? rest[0] + " needs a value (or is unknown); see --help"
                        : "bad option or value: " + rest[0] + " " + rest[1] + "; see --help");
    }
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace camsim;
    Words w;
    if (const auto done = ParseWords(argc, argv, w)) {
        return *done;
    }
    auto bad = [](const char* option, const std::string& value) {
        return Fail(std::string("bad option or value: ") + option + " " + value + "; see --help");
    };
    int count = -1;
    Ipv4 ipBase{127, 0, 1, 1};
    Mac macBase{0x02, 0x51, 0x56, 0x00, 0x00, 0x01};
    CameraSpec templ;
    std::optional<std::uint16_t> ports[3];
    SimConfig sim;
    std::uint64_t n = 0;
    if (w.count) {
        if (!ParseNumber(*w.count, 60000, n) || n < 1) {
            return Fail("--count takes 1 to 60000");
        }
        count = static_cast<int>(n);
    }
    if (w.ipBase) {
        auto ip = ParseIpv4(*w.ipBase);
        if (!ip) {
            return Fail("--ip-base is not an IPv4 address: " + *w.ipBase);
        }
        ipBase = *ip;
    }
    if (w.macBase) {
        auto mac = ParseMac(*w.macBase);
        if (!mac) {
            return Fail("--mac-base is not a MAC address: " + *w.macBase);
        }
        macBase = *mac;
    }
    templ.type = w.type.value_or(templ.type);
    templ.sw = w.sw.value_or(templ.sw);
    templ.hw = w.hw.value_or(templ.hw);
    if (w.flashMs) {
        if (!ParseNumber(*w.flashMs, UINT32_MAX, n)) {
            return bad("--flash-ms", *w.flashMs);
        }
        templ.flashMs = static_cast<std::uint32_t>(n);
    }
    if (w.rebootMs) {
        if (!ParseNumber(*w.rebootMs, 600000, n)) {
            return Fail("--reboot-ms takes 0 to 600000");
        }
        templ.rebootMs = static_cast<std::uint32_t>(n);
    }
    templ.checkHw = !w.noHwCheck;
    const char* const portNames[3] = {"--discovery-port", "--control-port", "--ipset-port"};
    for (int i = 0; i < 3; ++i) {
        if (w.ports[i]) {
            if (!ParseNumber(*w.ports[i], 65535, n)) {
                return bad(portNames[i], *w.ports[i]);
            }
            ports[i] = static_cast<std::uint16_t>(n);
        }
    }
    if (w.listenAddress) {
        sim.listenAddress = ParseIpv4(*w.listenAddress);
        if (!sim.listenAddress) {
            return Fail("--listen-address is not an IPv4 address: " + *w.listenAddress);
        }
    }
    sim.iface = w.iface.value_or(sim.iface);
    sim.filesDir = w.dir.value_or(sim.filesDir);
    if (w.maxFileSize) {
        if (!ParseNumber(*w.maxFileSize, UINT64_MAX, n)) {
            return bad("--max-file-size", *w.maxFileSize);
        }
        sim.maxFileSize = n;
    }
    if (w.seed) {
        if (!ParseNumber(*w.seed, UINT32_MAX, n)) {
            return bad("--seed", *w.seed);
        }
        sim.seed = static_cast<std::uint32_t>(n);
    }
    const std::string fleetFile = w.fleet.value_or("");
    const std::string confFile = w.conf.value_or("");
    const std::string logFile = w.log.value_or("");
    const std::string readyFile = w.readyFile.value_or("");
    const std::string writeConf = w.writeConf.value_or("");
    const std::vector<std::string>& faults = w.faults;

    // The same configuration the libraries read; options override its ports.
    std::string error;
    std::optional<wire::LoadedNetConfig> loaded =
        confFile.empty() ? wire::LoadNetConfig(platform::ExeDir(), &error)
                         : wire::LoadNetConfigFile(confFile, &error);
    if (!loaded) {
        return Fail("configuration: " + error);
    }
    wire::NetConfig net = loaded->config;
    auto disc = ParseIpv4(net.discoveryAddress);
    if (!disc) {
        return Fail("configuration: bad discovery_address " + net.discoveryAddress);
    }
    sim.discoveryAddress = *disc;
    sim.discoveryPort = ports[0].value_or(net.discoveryPort);
    sim.controlPort = ports[1].value_or(net.controlPort);
    sim.ipsetPort = ports[2].value_or(net.ipsetPort);

    FleetSpec fleet;
    templ.ip = ipBase;
    templ.mac = macBase;
    if (!fleetFile.empty()) {
        std::ifstream in(fleetFile, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        if (!in) {
            return Fail("cannot read " + fleetFile);
        }
        auto parsed = ParseFleetJson(text.str(), templ, error);
        if (!parsed) {
            return Fail(fleetFile + ": " + error);
        }
        fleet = std::move(*parsed);
    } else {
        fleet = MakeUniformFleet(count > 0 ? count : 1, ipBase, macBase, templ);
    }
    for (auto& cam : fleet.cameras) {
        for (const auto& f : faults) {
            if (!ApplyFault(cam.faults, f, error)) {
                return Fail(error);
            }
        }
    }
    if (!ValidateFleet(fleet, error)) {
        return Fail(error);
    }

    Log log;
    if (!log.Open(logFile)) {
        return Fail("cannot open the log " + logFile);
    }
    std::signal(SIGPIPE, SIG_IGN);
    Simulator simulator(std::move(fleet), sim, log);
    if (!simulator.Start(error)) {
        log.Line("camsim cannot start: %s", error.c_str());
        return Fail(error);
    }
    asio::signal_set signals(simulator.Io(), SIGINT, SIGTERM);
    signals.async_wait([&](const asio::error_code& ec, int sig) {
        if (!ec) {
            log.Line("camsim: signal %d, stopping", sig);
            simulator.Stop();
        }
    });

    if (!writeConf.empty()) {
        net.discoveryPort = simulator.DiscoveryPort();
        net.controlPort = simulator.ControlPort();
        net.ipsetPort = simulator.IpsetPort();
        if (!WriteAtomically(writeConf, wire::FormatNetConfig(net))) {
            return Fail("cannot write " + writeConf);
        }
    }
    char ready[160];
    std::snprintf(ready, sizeof ready,
                  "camsim ready cameras=%zu discovery_port=%u control_port=%u ipset_port=%u\n",
                  simulator.CameraCount(), simulator.DiscoveryPort(), simulator.ControlPort(),
                  simulator.IpsetPort());
    if (!readyFile.empty() && !WriteAtomically(readyFile, ready)) {
        return Fail("cannot write " + readyFile);
    }
    std::fputs(ready, stdout);
    std::fflush(stdout);

    simulator.Run();
    log.Line("camsim stopped");
    return 0;
}
