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
                         throttle=BYTES_PER_S, fail-verify, refuse-clock, refuse-ip-change,
                         discovery-twice, silent, malformed, reply-delay=MS
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

bool ParsePort(const std::string& text, std::uint16_t& port) {
    char* end = nullptr;
    const unsigned long v = std::strtoul(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || v > 65535) {
        return false;
    }
    port = static_cast<std::uint16_t>(v);
    return true;
}

int Fail(const std::string& message) {
    std::cerr << "camsim: " << message << "\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace camsim;
    std::vector<std::string> args(argv + 1, argv + argc);
    int count = -1;
    std::string fleetFile, confFile, logFile, readyFile, writeConf;
    Ipv4 ipBase{127, 0, 1, 1};
    Mac macBase{0x02, 0x51, 0x56, 0x00, 0x00, 0x01};
    CameraSpec templ;
    std::vector<std::string> faults;
    std::optional<std::uint16_t> discoveryPort, controlPort, ipsetPort;
    SimConfig sim;

    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= args.size()) {
                return std::nullopt;
            }
            return args[++i];
        };
        if (a == "--help" || a == "-h") {
            std::cout << kUsage;
            return 0;
        }
        if (a == "--no-hw-check") {
            templ.checkHw = false;
            continue;
        }
        auto v = value();
        if (!v) {
            return Fail(a + " needs a value (or is unknown); see --help");
        }
        std::uint16_t port = 0;
        if (a == "--count") {
            char* end = nullptr;
            const long n = std::strtol(v->c_str(), &end, 10);
            if (*end != '\0' || n < 1 || n > 60000) {
                return Fail("--count takes 1 to 60000");
            }
            count = static_cast<int>(n);
        } else if (a == "--ip-base") {
            auto ip = ParseIpv4(*v);
            if (!ip) {
                return Fail("--ip-base is not an IPv4 address: " + *v);
            }
            ipBase = *ip;
        } else if (a == "--mac-base") {
            auto mac = ParseMac(*v);
            if (!mac) {
                return Fail("--mac-base is not a MAC address: " + *v);
            }
            macBase = *mac;
        } else if (a == "--type") {
            templ.type = *v;
        } else if (a == "--sw") {
            templ.sw = *v;
        } else if (a == "--hw") {
            templ.hw = *v;
        } else if (a == "--flash-ms") {
            templ.flashMs = static_cast<std::uint32_t>(std::strtoul(v->c_str(), nullptr, 10));
        } else if (a == "--reboot-ms") {
            char* end = nullptr;
            const unsigned long ms = std::strtoul(v->c_str(), &end, 10);
            if (v->empty() || *end != '\0' || ms > 600000) {
                return Fail("--reboot-ms takes 0 to 600000");
            }
            templ.rebootMs = static_cast<std::uint32_t>(ms);
        } else if (a == "--fleet") {
            fleetFile = *v;
        } else if (a == "--fault") {
            faults.push_back(*v);
        } else if (a == "--conf") {
            confFile = *v;
        } else if (a == "--discovery-port" && ParsePort(*v, port)) {
            discoveryPort = port;
        } else if (a == "--control-port" && ParsePort(*v, port)) {
            controlPort = port;
        } else if (a == "--ipset-port" && ParsePort(*v, port)) {
            ipsetPort = port;
        } else if (a == "--listen-address") {
            sim.listenAddress = ParseIpv4(*v);
            if (!sim.listenAddress) {
                return Fail("--listen-address is not an IPv4 address: " + *v);
            }
        } else if (a == "--iface") {
            sim.iface = *v;
        } else if (a == "--dir") {
            sim.filesDir = *v;
        } else if (a == "--max-file-size") {
            sim.maxFileSize = std::strtoull(v->c_str(), nullptr, 10);
        } else if (a == "--log") {
            logFile = *v;
        } else if (a == "--ready-file") {
            readyFile = *v;
        } else if (a == "--write-conf") {
            writeConf = *v;
        } else if (a == "--seed") {
            sim.seed = static_cast<std::uint32_t>(std::strtoul(v->c_str(), nullptr, 10));
        } else {
            return Fail("bad option or value: " + a + " " + *v + "; see --help");
        }
    }

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
    sim.discoveryPort = discoveryPort.value_or(net.discoveryPort);
    sim.controlPort = controlPort.value_or(net.controlPort);
    sim.ipsetPort = ipsetPort.value_or(net.ipsetPort);

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
