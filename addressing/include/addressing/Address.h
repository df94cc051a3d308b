#pragma once
// IPv4 addresses, masks and MACs as the address plan uses them: addresses are
// 32-bit numbers with the first octet in the high byte.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace addressing {

// Addresses something already holds, each with the MAC of the camera that holds
// it (upper case, colons), or "" for a host that is not a camera. A camera's own
// address is no obstacle to it.
using InUse = std::map<std::uint32_t, std::string>;

inline constexpr std::uint32_t kDefaultMask = 0xFFFFFF00u;  // 255.255.255.0

// Strict dotted decimal: four numbers 0..255 of one to three digits, no signs or spaces.
std::optional<std::uint32_t> ParseIpv4(std::string_view text);
std::string FormatIpv4(std::uint32_t ip);

// "02:51:56:00:00:01" or with '-', either case; gives it upper case with colons.
std::optional<std::string> NormalizeMac(std::string_view text);

// A mask a camera can use: contiguous ones and at least two hosts (/1 .. /30).
bool UsableMask(std::uint32_t mask);

struct Subnet {
    std::uint32_t network = 0;
    std::uint32_t mask = kDefaultMask;

    static Subnet Of(std::uint32_t ip, std::uint32_t mask) { return {ip & mask, mask}; }
    std::uint32_t Broadcast() const { return network | ~mask; }
    bool Contains(std::uint32_t ip) const { return (ip & mask) == network; }
    // Inside, and neither the network nor the broadcast address.
    bool IsHost(std::uint32_t ip) const {
        return Contains(ip) && ip != network && ip != Broadcast();
    }
    std::string Text() const;  // "10.77.0.0/23"
};

// Why `ip` with `mask` and optional `gateway` cannot be given to a camera
// (Chinese, short), or "" when it can: a usable mask, a host address of its
// subnet, below 224.0.0.0 and not in 0.0.0.0/8, a gateway that is another host of it.
std::string CheckAddress(std::uint32_t ip, std::uint32_t mask,
                         std::optional<std::uint32_t> gateway);

}  // namespace addressing
