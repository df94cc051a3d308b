#pragma once
// The PC's IPv4 adapters, as the system lists them.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct NetAdapter {
    std::string name;      // on Windows the friendly name ("以太网", "Wi-Fi")
    uint32_t address = 0;  // host order: 10.77.0.1 is 0x0A4D0001
    int prefix = 0;        // 0..32
    bool up = false;
    bool broadcast = false;     // the link carries broadcasts
    bool pointToPoint = false;  // a tunnel or dial-up link
    bool loopback = false;

    bool operator==(const NetAdapter&) const = default;
};

// Every IPv4 address of every adapter, one entry per address, in the system's
// order. Returns nothing and fills `error` when the system refuses the listing.
std::optional<std::vector<NetAdapter>> ListNetAdapters(std::string* error);

// The adapter's directed broadcast (10.77.255.255 for 10.77.0.1/16); 0 where the
// subnet has none (/31, /32 and the whole space).
uint32_t DirectedBroadcast(const NetAdapter& adapter);

// "10.77.0.1".
std::string FormatIpv4(uint32_t address);

// Where a search goes out by default: up, carrying broadcasts, not the loopback
// and not a point-to-point link.
bool CarriesSearch(const NetAdapter& adapter);

// The adapters a choice names: every address of the adapter of that name, or
// the one whose address is that dotted text. Empty when none does.
std::vector<NetAdapter> ChosenAdapters(const std::vector<NetAdapter>& adapters,
                                       const std::string& nameOrAddress);

// "eth0 10.77.0.1/16", as lists and logs show an adapter.
std::string DescribeAdapter(const NetAdapter& adapter);

// True when `address` (host order) lies in the adapter's subnet.
bool InSubnet(const NetAdapter& adapter, uint32_t address);

}  // namespace platform
