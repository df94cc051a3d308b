// The simulator's frame: the fleet, its sockets, start and stop, and what a camera
// becomes after a verdict (counts, reboot, new version). The conversations are in
// Discovery.cpp, ControlSession.cpp, FileReceiver.cpp and IpChange.cpp.
#include "camsim/Simulator.h"

#include <net/if.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "ControlSession.h"
#include "Internal.h"

namespace camsim {

namespace fs = std::filesystem;
using asio::ip::tcp;
using asio::ip::udp;

namespace {

std::string MacDirName(const Mac& mac) {
    std::string s = FormatMac(mac);
    std::replace(s.begin(), s.end(), ':', '-');
    return s;
}

}  // namespace

Simulator::Simulator(FleetSpec fleet, SimConfig config, Log& log)
    : config_(std::move(config)), log_(log) {
    rng_.seed(config_.seed != 0 ? config_.seed : std::random_device{}());
    for (std::size_t i = 0; i < fleet.cameras.size(); ++i) {
        auto cam = std::make_unique<Camera>();
        cam->index = i;
        cam->model = fleet.cameras[i];
        cam->ip = cam->model.ip;
        cam->mask = cam->model.mask;
        cam->gateway = cam->model.gateway;
        cam->dir = (fs::path(config_.filesDir) / MacDirName(cam->model.mac)).string();
        cam->statePath = cam->dir + ".json";
        cams_.push_back(std::move(cam));
    }
}

Simulator::~Simulator() {
    io_.stop();
    asio::error_code ec;
    for (auto& cam : cams_) {
        if (cam->acceptor) {
            cam->acceptor->close(ec);
            cam->acceptor.reset();
        }
        if (cam->probe) {
            cam->probe->close(ec);
            cam->probe.reset();
        }
    }
    // Destroying io_ (declared after cams_) releases the sessions and timers
    // that pending handlers still hold, while the cameras are still there.
}

std::size_t Simulator::CameraCount() const {
    return cams_.size();
}

Ipv4 Simulator::CurrentIp(std::size_t index) const {
    std::lock_guard lock(stateMutex_);
    return cams_.at(index)->ip;
}

std::string Simulator::CameraDir(std::size_t index) const {
    return cams_.at(index)->dir;
}

std::string Simulator::StatePath(std::size_t index) const {
    return cams_.at(index)->statePath;
}

Simulator::CameraState Simulator::State(std::size_t index) const {
    std::lock_guard lock(stateMutex_);
    const Camera& cam = *cams_.at(index);
    return {cam.model.sw,  cam.accepted, cam.refused,  cam.lastFile,
            cam.rebooting, cam.begun,    cam.received, cam.updating || cam.flashing > 0,
            cam.ipChanges, cam.ipRefused};
}

bool Simulator::Start(std::string& error) {
    if (cams_.empty()) {
        error = "no camera to simulate";
        return false;
    }
    if (config_.iface.empty()) {
        // Loopback mode: nothing may listen or answer outside 127.0.0.0/8.
        for (const auto& cam : cams_) {
            if (!IsLoopback(cam->ip)) {
                error = "camera address " + FormatIpv4(cam->ip) +
                        " is not on loopback; other addresses need --iface inside a network "
                        "namespace";
                return false;
            }
        }
        if (!IsLoopback(config_.discoveryAddress) && !config_.listenAddress) {
            error = "discovery address " + FormatIpv4(config_.discoveryAddress) +
                    " is not on loopback; use --iface inside a network namespace";
            return false;
        }
    } else {
        if (cams_.size() != 1) {
            error = "--iface plays exactly one camera (one per network namespace)";
            return false;
        }
        if (!InOwnNetworkNamespace()) {
            error = "--iface re-addresses " + config_.iface +
                    ": only inside a network namespace (see lab/netns-lab.sh)";
            return false;
        }
        ifindex_ = static_cast<int>(if_nametoindex(config_.iface.c_str()));
        if (ifindex_ == 0) {
            error = "no interface " + config_.iface;
            return false;
        }
        if (!Readdress(cams_[0]->ip, cams_[0]->mask, cams_[0]->gateway, error)) {
            return false;
        }
    }

    const Ipv4 listen = config_.listenAddress                  ? *config_.listenAddress
                        : IsLoopback(config_.discoveryAddress) ? config_.discoveryAddress
                                                               : Ipv4{0, 0, 0, 0};
    auto bindUdp = [&](udp::socket& s, std::uint16_t port, std::uint16_t& actual,
                       const char* what) {
        asio::error_code ec;
        s.open(udp::v4(), ec);
        if (!ec) {
            s.set_option(udp::socket::reuse_address(true), ec);
        }
        if (!ec) {
            s.bind(udp::endpoint(ToAsio(listen), port), ec);
        }
        if (ec) {
            error = std::string("cannot bind the ") + what + " socket to " + FormatIpv4(listen) +
                    ":" + std::to_string(port) + ": " + ec.message();
            return false;
        }
        s.set_option(asio::socket_base::receive_buffer_size(1 << 20), ec);
        actual = s.local_endpoint().port();
        return true;
    };
    if (!bindUdp(discovery_, config_.discoveryPort, discoveryPort_, "discovery") ||
        !bindUdp(ipset_, config_.ipsetPort, ipsetPort_, "IP change")) {
        return false;
    }
    asio::error_code ec;
    sender_.open(udp::v4(), ec);
    if (!ec) {
        sender_.set_option(asio::socket_base::broadcast(true), ec);
    }
    if (ec) {
        error = "cannot open the reply socket: " + ec.message();
        return false;
    }
    sender_.set_option(asio::socket_base::send_buffer_size(4 << 20), ec);
    sender_.non_blocking(true, ec);

    controlPort_ = config_.controlPort;
    for (auto& cam : cams_) {
        if (!cam->model.faults.refuseConnect && !OpenAcceptor(*cam, cam->ip, error)) {
            return false;
        }
    }
    if (controlPort_ == 0) {
        // Every camera refuses connections: still name a port nobody listens on.
        tcp::acceptor probe(io_, tcp::endpoint(ToAsio(cams_[0]->ip), 0));
        controlPort_ = probe.local_endpoint().port();
    }
    if (config_.iface.empty() && ToU32(listen) != 0) {
        // The shared socket takes only the broadcast address; a camera's own
        // address needs a socket of its own.
        for (auto& cam : cams_) {
            OpenProbe(*cam, cam->ip);
        }
    }
    discoveryBuf_.resize(2048);
    ipsetBuf_.resize(2048);
    ReceiveDiscovery();
    ReceiveIpset();
    log_.Line("camsim: %zu cameras, discovery %s:%u, IP change port %u, control port %u%s%s",
              cams_.size(), FormatIpv4(listen).c_str(), discoveryPort_, ipsetPort_, controlPort_,
              config_.iface.empty() ? "" : ", interface ", config_.iface.c_str());
    return true;
}

void Simulator::Run() {
    io_.run();
}

void Simulator::Stop() {
    asio::post(io_, [this] { io_.stop(); });
}

// ------------------------------------------------------- after a verdict

void Simulator::Verdict(Camera& cam, bool accepted, const std::string& file,
                        const std::string& newSw, Session* except) {
    {
        std::lock_guard lock(stateMutex_);
        if (!accepted) {
            ++cam.refused;
        } else {
            ++cam.accepted;
            cam.lastFile = file;
            if (cam.model.rebootMs == 0 && !cam.model.faults.neverBack) {
                cam.model.sw = newSw;
            }
        }
    }
    if (accepted && (cam.model.rebootMs > 0 || cam.model.faults.neverBack)) {
        Reboot(cam, newSw, except);
        return;
    }
    if (accepted) {
        log_.Line("%s reports software version %s", FormatMac(cam.model.mac).c_str(),
                  newSw.c_str());
    }
    SaveState(cam);
}

void Simulator::Reboot(Camera& cam, const std::string& newSw, Session* except) {
    const std::string who = FormatMac(cam.model.mac) + " " + FormatIpv4(cam.ip);
    log_.Line("%s reboots: silent for %u ms", who.c_str(), cam.model.rebootMs);
    {
        std::lock_guard lock(stateMutex_);
        cam.rebooting = true;
    }
    asio::error_code ec;
    if (cam.acceptor) {
        cam.acceptor->close(ec);
        cam.acceptor.reset();
    }
    // Every other session ends now; the one carrying the verdict ends once it is out.
    for (const auto& weak : cam.sessions) {
        if (auto s = weak.lock(); s && s.get() != except) {
            s->Drop("camera reboots");
        }
    }
    SaveState(cam);
    if (cam.model.faults.neverBack) {
        log_.Line("%s never comes back", who.c_str());
        return;
    }
    auto timer =
        std::make_shared<asio::steady_timer>(io_, std::chrono::milliseconds(cam.model.rebootMs));
    timer->async_wait([this, &cam, timer, newSw, who](const asio::error_code& tec) {
        if (tec) {
            return;
        }
        {
            std::lock_guard lock(stateMutex_);
            cam.model.sw = newSw;
            cam.rebooting = false;
        }
        std::string why;
        if (!cam.model.faults.refuseConnect && !OpenAcceptor(cam, cam.ip, why)) {
            log_.Line("%s after the reboot: %s", who.c_str(), why.c_str());
        }
        log_.Line("%s is back, reports software version %s", who.c_str(), newSw.c_str());
        SaveState(cam);
    });
}

// The camera's state for other processes (the fleet test support, the soak's
// checker): one JSON object, written under a temporary name and renamed into place.
void Simulator::SaveState(const Camera& cam) {
    nlohmann::json j;
    {
        std::lock_guard lock(stateMutex_);
        j = {{"mac", FormatMac(cam.model.mac)},
             {"sw", cam.model.sw},
             {"hw", cam.model.hw},
             {"accepted", cam.accepted},
             {"refused", cam.refused},
             {"last_file", cam.lastFile},
             {"rebooting", cam.rebooting},
             {"begun", cam.begun},
             {"received", cam.received},
             {"busy", cam.updating || cam.flashing > 0},
             {"ip", FormatIpv4(cam.ip)},
             {"ip_changes", cam.ipChanges},
             {"ip_refused", cam.ipRefused}};
    }
    std::error_code ec;
    fs::create_directories(config_.filesDir, ec);
    const std::string tmp = cam.statePath + ".tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out << j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
        if (!out) {
            log_.Line("cannot write %s", tmp.c_str());
            return;
        }
    }
    fs::rename(tmp, cam.statePath, ec);
    if (ec) {
        log_.Line("cannot write %s: %s", cam.statePath.c_str(), ec.message().c_str());
    }
}

}  // namespace camsim
