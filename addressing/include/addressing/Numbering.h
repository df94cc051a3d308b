#pragma once
// Consecutive numbering from a start address that never hands out an address
// in use nor the subnet's network or broadcast address.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "addressing/Address.h"

namespace addressing {

struct Numbered {
    std::string mac;
    std::uint32_t ip = 0;
    std::vector<std::uint32_t> skippedInUse;     // held by another host or camera
    std::vector<std::uint32_t> skippedReserved;  // the subnet's network or broadcast address
};

struct Numbering {
    std::vector<Numbered> cameras;  // in the order of `macs`; empty when refused
    std::string error;              // why nothing is planned (Chinese, short); "" when planned
};

// Numbers the cameras `macs` (upper case, colons) in their order from `start`
// inside start's subnet for `mask`, skipping what `inUse` holds for another MAC
// and the network and broadcast addresses. Refused (and nothing planned) when
// the mask or start cannot be used or the subnet runs out of addresses.
// With `through`, the numbering goes on into the next subnets of the same mask
// up to that address, skipping each one's network and broadcast address; it
// is refused only past `through` ("可用IP地址不足").
Numbering NumberFrom(std::uint32_t start, std::uint32_t mask, const std::vector<std::string>& macs,
                     const InUse& inUse, std::optional<std::uint32_t> through = std::nullopt);

// What a camera is told about the addresses passed over for it: one line per
// kind, none when nothing was skipped. "跳过已占用地址 10.77.1.20、10.77.1.21".
std::vector<std::string> SkipNotes(const Numbered& camera);

}  // namespace addressing
