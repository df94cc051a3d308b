#pragma once
// The tool's side of discovery: probes by UDP broadcast, collects the answers.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "korvel.h"
#include "wire/NetConfig.h"

namespace wire {

// Cameras one search reports at most. Every camera costs the caller a record
// and a row; a host posing as tens of thousands of cameras must not take the
// tool's memory. Further cameras are counted, not reported.
inline constexpr int kMaxCamerasPerSearch = 10000;

struct DiscoveryStats {
    int probesSent = 0;
    int datagrams = 0;   // everything that arrived
    int dropped = 0;     // malformed, wrong type, stale search or bad record version
    int duplicates = 0;  // answers from cameras already reported
    int cameras = 0;
    int beyondLimit = 0;  // answers from cameras past the limit, not reported
    long elapsedMs = 0;
    // The adapters searched on ("eth0 10.77.0.1/16"); empty when the system chose
    // the way out (an explicit discovery address).
    std::vector<std::string> adapters;
};

// The PC's adapter an answer came in on. Empty name and address 0 when the
// search went out by one socket the system routed (an explicit discovery address).
struct AnsweredOn {
    std::string name;
    uint32_t address = 0;  // host order
    int prefix = 0;
};

// True when `config` searches on every adapter: the limited broadcast with the
// wildcard bind address, as installed. Any other address keeps one socket.
bool SearchesEveryAdapter(const NetConfig& config);

// Runs one search with `config` and calls `onDevice` once per distinct MAC, on the
// calling thread, one call after another; every call has returned when this returns.
// Text fields of the record are NUL-terminated before the call. Returns false and
// fills `error` when no socket could be opened or no probe could be sent.
// At most `maxCameras` are reported; `onLimit`, when given, is called once, at
// the first answer past the limit.
bool Discover(const NetConfig& config, const std::function<void(const tNetDeviceInfo&)>& onDevice,
              DiscoveryStats* stats, std::string* error, int maxCameras = kMaxCamerasPerSearch,
              const std::function<void()>& onLimit = {});

// Sends one probe to `ip` alone (no spread) and waits up to `timeoutMs` for an
// answer whose record carries that address: 1 with *info filled, 0 when none
// came, -1 with *error when the probe could not be sent.
int ProbeOne(const NetConfig& config, const std::string& ip, int timeoutMs, tNetDeviceInfo* info,
             std::string* error);

// Forces NUL terminators into every text field of a received record.
void TerminateTexts(tNetDeviceInfo& info);

// As Discover, and tells each camera's adapter.
bool DiscoverOn(const NetConfig& config,
                const std::function<void(const tNetDeviceInfo&, const AnsweredOn&)>& onDevice,
                DiscoveryStats* stats, std::string* error, int maxCameras = kMaxCamerasPerSearch,
                const std::function<void()>& onLimit = {});

// Addresses one search by address asks at most.
inline constexpr int kMaxScanAddresses = 1024;
// A scan asks every address once, then once more those that did not answer.
inline constexpr int kScanRounds = 2;

struct ScanStats {
    int asked = 0;       // addresses
    int probesSent = 0;  // probes that left
    int sendErrors = 0;  // probes the system refused (no route, no buffer)
    int datagrams = 0;
    int dropped = 0;  // malformed, stale, or a record of an address not asked
    int cameras = 0;
    bool cancelled = false;
    long elapsedMs = 0;
};

// A search by address: one DISCOVER_REQ (no spread) by unicast to each of
// `addresses` (host order, at most kMaxScanAddresses), at most
// config.scanRate a second, in kScanRounds rounds; a later round asks only
// the addresses that gave no answer. An answer counts when its record
// carries an address asked (one socket may answer for several cameras, as in
// the loopback lab); each MAC is reported once, with the adapter the system
// routes its address by. It ends when every address answered, or
// discovery_quiet_ms after the last probe and the last new camera, or within
// a few milliseconds of `cancelled` returning true (stats->cancelled). False
// with *error when nothing could be sent.
bool Scan(const NetConfig& config, const std::vector<uint32_t>& addresses,
          const std::function<void(const tNetDeviceInfo&, const AnsweredOn&)>& onDevice,
          ScanStats* stats, std::string* error, const std::function<bool()>& cancelled = {});

// A random non-zero transaction id.
uint32_t RandomTxid();

}  // namespace wire
