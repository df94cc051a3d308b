#pragma once
// The tool's side of discovery: probes by UDP broadcast, collects the answers.

#include <cstdint>
#include <functional>
#include <string>

#include "korvel.h"
#include "wire/NetConfig.h"

namespace wire {

struct DiscoveryStats {
    int probesSent = 0;
    int datagrams = 0;   // everything that arrived
    int dropped = 0;     // malformed, wrong type, stale search or bad record version
    int duplicates = 0;  // answers from cameras already reported
    int cameras = 0;
    long elapsedMs = 0;
};

// Runs one search with `config` and calls `onDevice` once per distinct MAC, on the
// calling thread, one call after another; every call has returned when this returns.
// Text fields of the record are NUL-terminated before the call. Returns false and
// fills `error` when no socket could be opened or no probe could be sent.
bool Discover(const NetConfig& config, const std::function<void(const tNetDeviceInfo&)>& onDevice,
              DiscoveryStats* stats, std::string* error);

// Forces NUL terminators into every text field of a received record.
void TerminateTexts(tNetDeviceInfo& info);

// A random non-zero transaction id.
uint32_t RandomTxid();

}  // namespace wire
