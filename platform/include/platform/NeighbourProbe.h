#pragma once
// Which addresses answer on the LAN: the system is made to resolve each one
// (ARP) on the adapter whose subnet holds it, and its neighbour table read.

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/NetAdapters.h"

namespace platform {

struct NeighbourProbe {
    bool checked = false;  // false: nothing could be asked; `why` says why
    std::string why;
    // Address (host order) → the MAC that answered for it, "AA:BB:CC:DD:EE:FF";
    // "" for an address of this PC itself.
    std::map<std::uint32_t, std::string> answered;
};

// Asks for every address of `addresses` that lies on the subnet of one of the
// PC's adapters, all at once, and waits at most `budget` for the answers. An
// address of the loopback (127.0.0.0/8) or off every adapter's subnet (it
// would go through a router) is never asked for. No answer is no proof that
// an address is free.
NeighbourProbe ProbeNeighbours(const std::vector<std::uint32_t>& addresses,
                               std::chrono::milliseconds budget);

// The addresses of `addresses` an adapter that is up reaches directly (not the
// loopback, not a point-to-point link, /1 to /31, neither the subnet's network
// nor its broadcast address), once each; those that are any adapter's own
// address go into `own` instead. 127.0.0.0/8 is in neither.
std::vector<std::uint32_t> OnLinkTargets(const std::vector<NetAdapter>& adapters,
                                         const std::vector<std::uint32_t>& addresses,
                                         std::vector<std::uint32_t>* own);

// The system's part of ProbeNeighbours (one file per system). AskNeighbours
// makes the system resolve each address at once; ReadNeighbours gives its
// neighbour table's complete entries, address → MAC. False with `why` when
// the system refuses.
bool AskNeighbours(const std::vector<std::uint32_t>& targets, std::string* why);
bool ReadNeighbours(std::map<std::uint32_t, std::string>* table, std::string* why);

// The complete entries of a Linux neighbour table as /proc/net/arp shows it:
// address → MAC in upper case with colons. At most 4096 entries are read.
std::map<std::uint32_t, std::string> ParseArpTable(std::string_view text);

}  // namespace platform
