#pragma once
// A camsim fleet on loopback for one test or benchmark: its own free ports, its own 127.x
// address block and its own temporary directory, with a quorvane-net.conf that
// points the code under test at it. Stopped and cleaned up in the destructor.
//
// For an end-to-end upgrade test:
//   qvtest::Fleet f(qvtest::FleetOptions::Groups({{4, "101"}, {4, "102"}}, "2.3.1_180101"));
//   ... run the tool with f.useConf() ...
//   f.waitSettled();                       // every reboot is over
//   f.keptFile(mac)                        // bytes of the last file that camera kept
//   f.state(mac).sw / .accepted / .refused // its version now and its verdict counts
// Cameras check update packs against their hardware version unless checkHw is
// false, and take on a new software version after each file they keep (rule in
// docs/protocol.md, camsim::NewSoftwareVersion).

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ScopedEnv.h"
#include "wire/NetConfig.h"

namespace qvtest {

// Cameras alike, for FleetOptions::Groups: FleetGroup(4, "101").noHwCheck().
// Empty texts and unset values take the fleet's (FleetOptions') own.
struct FleetGroup {
    FleetGroup(int n = 1, std::string hardware = {}) : count(n), hw(std::move(hardware)) {}
    FleetGroup& withSw(std::string v) { return sw = std::move(v), *this; }
    FleetGroup& withType(std::string v) { return type = std::move(v), *this; }
    FleetGroup& withRebootMs(std::uint32_t v) { return rebootMs = v, *this; }
    FleetGroup& noHwCheck() { return checkHw = false, *this; }

    int count;
    std::string hw;
    std::string sw;
    std::string type;
    std::optional<std::uint32_t> rebootMs;
    std::optional<bool> checkHw;
};

struct FleetOptions {
    int count = 3;  // cameras on consecutive addresses, ignored with fleetJson
    std::string type = "QV-LPR200";
    std::string sw = "V2.1.3_20240115";
    std::string hw = "111";  // fits images named for no hardware code
    std::uint32_t flashMs = 0;
    // camsim --reboot-ms: silence after flashing; a few seconds, as a real camera
    // takes, so that the check after the reboot has something to wait for.
    std::uint32_t rebootMs = 2000;
    bool checkHw = true;  // false: camsim --no-hw-check
    // Cameras from this JSON text (camsim --fleet) instead of count. Cameras
    // without "ip" or "mac" get the next ones of the fleet's own block.
    std::string fleetJson;
    std::vector<std::string> faults;     // camsim --fault, for every camera
    std::vector<std::string> extraArgs;  // anything else for camsim
    // Adjusts the tool side's configuration (time-outs, probes) before it is written.
    std::function<void(wire::NetConfig&)> tune;
    // A loaded machine may answer late: a longer quiet period and deadline keep
    // every camera in each search of the tool under test.
    FleetOptions& patientSearch() {
        tune = [](wire::NetConfig& c) {
            c.discoveryQuietMs = 1000;
            c.discoveryDeadlineMs = 8000;
        };
        return *this;
    }
    std::chrono::milliseconds readyTimeout{60000};

    // Shorthands (designated initializers would trip -Wmissing-field-initializers).
    static FleetOptions Cameras(int n) {
        FleetOptions o;
        o.count = n;
        return o;
    }
    static FleetOptions Json(std::string text) {
        FleetOptions o;
        o.fleetJson = std::move(text);
        return o;
    }
    // Groups of cameras in this order (written as fleetJson), all of software
    // version `sw` unless a group says otherwise.
    static FleetOptions Groups(const std::vector<FleetGroup>& groups, std::string sw = {});
};

struct FleetCamera {
    std::string ip;   // dotted decimal, as started
    std::string mac;  // "02:51:56:..", upper case
    std::string type;
    std::string sw;  // as started
    std::string hw;
};

// What a camera has become, from the state file camsim writes after every
// verdict and reboot (<dir>/files/<MAC with '-'>.json).
struct FleetCameraState {
    std::string sw;              // the software version it reports now
    std::uint64_t accepted = 0;  // files it kept
    std::uint64_t refused = 0;   // files it received whole and refused (verdict not OK)
    std::string lastFile;        // name of the last file kept, in filesDir(mac)
    bool rebooting = false;
};

class Fleet {
  public:
    explicit Fleet(FleetOptions options = {});
    ~Fleet();
    Fleet(const Fleet&) = delete;
    Fleet& operator=(const Fleet&) = delete;

    // Whether camsim came up; error() says why not.
    bool ok() const { return pid_ > 0; }
    const std::string& error() const { return error_; }

    // The configuration for the code under test, and the fleet's temporary folder.
    const std::string& confPath() const { return confPath_; }
    const std::string& dir() const { return dir_; }
    std::uint16_t discoveryPort() const { return discoveryPort_; }
    std::uint16_t controlPort() const { return controlPort_; }
    std::uint16_t ipsetPort() const { return ipsetPort_; }
    const wire::NetConfig& config() const { return config_; }

    // The cameras as started (an IP change moves them later). With fleetJson this
    // lists the addresses and MACs the fleet's block handed out, in order.
    const std::vector<FleetCamera>& cameras() const { return cameras_; }
    // The folder where the camera with this MAC keeps the files it accepted.
    std::string filesDir(const std::string& mac) const;
    // The camera's state now; as started (sw from cameras(), no counts) before its
    // first verdict, and for a MAC the fleet does not have.
    FleetCameraState state(const std::string& mac) const;
    // The bytes of the last file the camera kept; nullopt when it kept none.
    std::optional<std::string> keptFile(const std::string& mac) const;
    // Waits until no camera reboots (state files say so); false on time-out.
    bool waitSettled(std::chrono::milliseconds timeout = std::chrono::milliseconds(10000)) const;
    // camsim's log so far, for failure messages.
    std::string log() const;

    // Sets QUORVANE_NET_CONF to confPath() for its lifetime, then puts back what was there.
    class ConfEnv : public ScopedEnv {
      public:
        explicit ConfEnv(const std::string& path);
    };
    [[nodiscard]] ConfEnv useConf() const { return ConfEnv(confPath_); }

    // Stops camsim (SIGTERM, then SIGKILL after a grace period); the destructor does it too.
    void stop();
    // After stop(): camsim's exit code (0 after a clean shutdown), -1 when it was killed.
    int exitCode() const { return exitCode_; }

    // The camsim executable: $QUORVANE_CAMSIM, else the one this build made.
    static std::string camsimPath();

  private:
    bool launch(const FleetOptions& options, const std::string& ipBase, const std::string& macBase);

    pid_t pid_ = -1;
    std::string error_;
    std::string dir_;
    std::string confPath_;
    std::uint16_t discoveryPort_ = 0;
    std::uint16_t controlPort_ = 0;
    std::uint16_t ipsetPort_ = 0;
    wire::NetConfig config_;
    std::vector<FleetCamera> cameras_;
    int exitCode_ = -1;
};

}  // namespace qvtest
