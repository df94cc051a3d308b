#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <asio.hpp>

#include "camsim/FileJudge.h"
#include "camsim/FleetModel.h"
#include "camsim/Log.h"
#include "korvel.h"
#include "wire/Md5.h"

namespace camsim {

struct SimConfig {
    Ipv4 discoveryAddress{127, 255, 255, 255};
    std::uint16_t discoveryPort = 48620;  // 0: pick a free one
    std::uint16_t controlPort = 48621;    // 0: pick a free one
    std::uint16_t ipsetPort = 48622;      // 0: pick a free one
    // Where the UDP sockets listen. Unset: the discovery address when it is on
    // loopback (so nothing listens on a real interface), else 0.0.0.0.
    std::optional<Ipv4> listenAddress;
    std::string filesDir = "camsim-files";  // one folder per camera below it
    // Network-namespace mode: the interface whose address an IP change really moves.
    // Empty: loopback mode, where every address must be in 127.0.0.0/8.
    std::string iface;
    std::uint64_t maxFileSize = 64ull * 1024 * 1024;
    std::uint32_t seed = 0;  // 0: random
};

// One process playing a fleet of cameras: discovery and IP change over UDP, a
// control session per TCP connection. Single-threaded on its own io_context.
class Simulator {
  public:
    Simulator(FleetSpec fleet, SimConfig config, Log& log);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Binds every socket. False with a reason when something cannot be bound.
    bool Start(std::string& error);
    // Runs until Stop(); from any thread.
    void Run();
    void Stop();

    std::uint16_t DiscoveryPort() const { return discoveryPort_; }
    std::uint16_t ControlPort() const { return controlPort_; }
    std::uint16_t IpsetPort() const { return ipsetPort_; }
    std::size_t CameraCount() const;
    // The camera's address now (IP changes move it); thread-safe snapshot.
    Ipv4 CurrentIp(std::size_t index) const;
    // Folder where the camera keeps the files it accepted: <filesDir>/<MAC with '-'>.
    std::string CameraDir(std::size_t index) const;
    // Where the camera writes its state after every update begun, abandoned or
    // judged, every reboot and every IP change request:
    // <filesDir>/<MAC with '-'>.json (beside its folder, so no file it receives
    // can take its name).
    std::string StatePath(std::size_t index) const;

    // What a camera has become; thread-safe snapshot.
    struct CameraState {
        std::string sw;              // software version it reports now
        std::uint64_t accepted = 0;  // files kept (verdict OK)
        std::uint64_t refused = 0;   // files received whole and not kept
        std::string lastFile;        // name of the last file kept, in CameraDir
        bool rebooting = false;
        std::uint64_t begun = 0;     // updates begun
        std::uint64_t received = 0;  // file bytes taken in, abandoned updates included
        bool busy = false;           // an update or a flash in progress
        std::uint64_t ipChanges = 0;
        std::uint64_t ipRefused = 0;
    };
    CameraState State(std::size_t index) const;

    asio::io_context& Io() { return io_; }

    struct Camera;
    class Session;

  private:
    friend class Session;
    void ReceiveDiscovery();
    void ReceiveIpset();
    void OnDiscover(const asio::ip::udp::endpoint& from, std::uint32_t txid,
                    std::uint16_t spreadMs);
    void AnswerDiscover(Camera& cam, const asio::ip::udp::endpoint& from, std::uint32_t txid,
                        std::uint16_t spreadMs);
    // The camera's own probe socket at `ip` (loopback only), replacing any before.
    void OpenProbe(Camera& cam, const Ipv4& ip);
    void ReceiveProbe(Camera& cam);
    // `extended`: IPSET_EX_REQ (gateway 0.0.0.0 keeps it; the answer carries it).
    void OnIpset(const asio::ip::udp::endpoint& from, std::uint32_t txid,
                 const std::vector<std::uint8_t>& payload, bool extended);
    bool OpenAcceptor(Camera& cam, const Ipv4& ip, std::string& error);
    void Accept(Camera& cam);
    void SendUdp(std::size_t cam, std::vector<std::uint8_t> frame,
                 const asio::ip::udp::endpoint& to, std::uint32_t delayMs);
    void SendUdpNow(std::size_t cam, const std::vector<std::uint8_t>& frame,
                    const asio::ip::udp::endpoint& to);
    bool Readdress(const Ipv4& ip, const Ipv4& mask, const Ipv4& gateway, std::string& error);
    tNetDeviceInfo Record(const Camera& cam) const;
    // After a verdict: counts it, and for a kept file takes on the new version,
    // rebooting first when the camera has a reboot time (`except` is the session
    // that carries the verdict; it closes itself once the verdict is out).
    void Verdict(Camera& cam, bool accepted, const std::string& file, const std::string& newSw,
                 Session* except);
    void Reboot(Camera& cam, const std::string& newSw, Session* except);
    void SaveState(const Camera& cam);
    std::uint32_t Random(std::uint32_t below);

    std::vector<std::unique_ptr<Camera>> cams_;
    SimConfig config_;
    Log& log_;
    std::mt19937 rng_;
    std::uint16_t discoveryPort_ = 0;
    std::uint16_t controlPort_ = 0;
    std::uint16_t ipsetPort_ = 0;
    int ifindex_ = 0;
    // Guards what others read through CurrentIp and State (addresses, version, counts).
    mutable std::mutex stateMutex_;

    // Everything below refers to io_ and goes before it.
    asio::io_context io_;
    asio::ip::udp::socket discovery_{io_};
    asio::ip::udp::socket ipset_{io_};
    asio::ip::udp::socket sender_{io_};
    std::vector<std::uint8_t> discoveryBuf_;
    std::vector<std::uint8_t> ipsetBuf_;
    asio::ip::udp::endpoint discoveryFrom_;
    asio::ip::udp::endpoint ipsetFrom_;
    std::uint64_t nextSessionId_ = 1;
};

}  // namespace camsim
