#pragma once
// The addresses a search by address asks one by one: one address, a range
// "10.77.1.10-10.77.1.50" or a prefix "10.77.1.0/24", typed by a technician.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace addressing {

// A scan asks each address by unicast; more than this is a mistake (a /16
// typed for a /24) that would take minutes and flood the LAN with ARP.
inline constexpr std::size_t kMaxScanAddresses = 1024;
// The longest text taken: "255.255.255.255 - 255.255.255.255" with room to spare.
inline constexpr std::size_t kMaxScanText = 64;

struct ScanRange {
    std::vector<std::uint32_t> addresses;  // ascending; empty when refused
    std::string error;                     // why refused (Chinese, short); "" when taken
    bool ok() const { return error.empty(); }
};

// Reads one address, a range of two (the first not above the second, spaces
// around '-' allowed) or a prefix: a prefix of /30 or wider leaves out its
// network and broadcast address. Refused: empty or longer than kMaxScanText,
// anything else than those forms, more than kMaxScanAddresses addresses, and
// addresses no camera can hold (0.x.x.x, multicast and above).
ScanRange ParseScanRange(std::string_view text);

}  // namespace addressing
