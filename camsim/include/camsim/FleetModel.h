#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace camsim {

using Ipv4 = std::array<std::uint8_t, 4>;
using Mac = std::array<std::uint8_t, 6>;

// What a camera does wrong on purpose. Zero or false everywhere is a healthy camera.
struct Faults {
    bool refuseConnect = false;      // the control port is closed: connections are refused
    bool hang = false;               // accepts control sessions and never answers
    std::int64_t dropAfter = -1;     // closes the link after this many file bytes (-1: never)
    int dropAtPercent = -1;          // closes the link at this share of the file (-1: never)
    std::uint64_t throttleBps = 0;   // reads file bytes at most this fast (0: unlimited)
    bool failVerify = false;         // rejects every file whatever it received
    bool refuseClock = false;        // refuses the clock query
    bool refuseIpChange = false;     // refuses every IP change
    bool discoveryTwice = false;     // answers each discovery probe twice
    bool silent = false;             // ignores discovery probes
    bool malformed = false;          // every reply is malformed
    std::uint32_t replyDelayMs = 0;  // waits this long before each reply
    bool noReasons = false;          // refuses without UPDATE_REASON, as older cameras do
    bool keepVersion = false;        // takes a file but comes back with its old version
    bool neverBack = false;          // takes a file, goes silent to reboot and never returns
    bool oldIpset = false;  // knows only IPSET_REQ (NAKs IPSET_EX_REQ), as older cameras do
    // Has no route to the PC (a camera fresh from the factory on another
    // subnet): answers by limited broadcast on its link, never by unicast.
    bool noRoute = false;
    // Sits behind a router (another VLAN): no broadcast reaches it, so it
    // answers only probes sent to its own address.
    bool routed = false;
};

struct CameraSpec {
    Ipv4 ip{};
    Ipv4 mask{255, 255, 255, 0};
    Ipv4 gateway{};
    Mac mac{};
    std::string type = "QV-LPR200";
    std::string sw = "V2.1.3_20240115";
    // The tool binds an image named for no hardware code to "111"; the camera takes it on any.
    std::string hw = "111";
    // Seconds between the camera's clock and the PC's local clock.
    std::int64_t clockOffset = 0;
    std::uint32_t flashMs = 0;  // time the camera takes to "flash" a file it accepted
    // Silence after flashing: no discovery answers, no control sessions (0: none).
    std::uint32_t rebootMs = 0;
    // Refuses an update pack whose application entry names another hardware code.
    bool checkHw = true;
    Faults faults;
};

struct FleetSpec {
    std::vector<CameraSpec> cameras;
    // "hostile_texts": true lets type, sw and hw hold control characters, to
    // play a camera that tries to forge the tool's output.
    bool hostileTexts = false;
};

// Texts and numbers as the simulator's options and JSON files write them.
std::optional<Ipv4> ParseIpv4(const std::string& text);
std::string FormatIpv4(const Ipv4& ip);
std::optional<Mac> ParseMac(const std::string& text);  // "02:51:56:00:00:01", '-' also allowed
std::string FormatMac(const Mac& mac);                 // upper case, colons
std::uint32_t ToU32(const Ipv4& ip);                   // first octet in the high byte
Ipv4 FromU32(std::uint32_t value);

// The address after `ip` for a camera: skips host parts .0 and .255.
Ipv4 NextCameraAddress(const Ipv4& ip);
// The MAC after `mac`, counting in the low three bytes.
Mac NextMac(const Mac& mac);

// Clock text "YYYY-MM-DD HH:MM:SS" (local time) to its offset from the PC's clock now.
std::optional<std::int64_t> ClockOffsetFrom(const std::string& text);

// `count` cameras on consecutive addresses from `base` with distinct MACs from `macBase`.
FleetSpec MakeUniformFleet(int count, const Ipv4& base, const Mac& macBase,
                           const CameraSpec& templ);

// Parses a fleet description: either an array of camera objects or an object with
// "cameras" (an array) and optional "defaults" (fields every camera starts from).
// Returns nullopt and fills `error` on anything it cannot accept.
std::optional<FleetSpec> ParseFleetJson(const std::string& text, const CameraSpec& defaults,
                                        std::string& error);

// Applies one fault written as NAME or NAME=VALUE ("drop-after=4096", "hang").
bool ApplyFault(Faults& faults, const std::string& faultText, std::string& error);

// Checks what the wire and the camera need: printable texts that fit their
// fields, distinct MACs and addresses. Fills `error` with the first problem.
bool ValidateFleet(const FleetSpec& fleet, std::string& error);

}  // namespace camsim
