#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "addressing/Numbering.h"

namespace app {

// `count` consecutive addresses from a.b.c.d: the last octet counts up to 254,
// then the next subnet a.b.(c+1).1 goes on, so that no address ends in 0 or
// 255. Nothing when they would pass a.b.255.254 (or d is 0 or 255).
std::optional<std::vector<std::string>> ConsecutiveAddresses(
    const std::array<std::uint8_t, 4>& start, std::size_t count);

// Strict dotted decimal: four parts of one to three digits, each at most 255,
// without leading zeros (which some readers take as octal) or anything else.
std::optional<std::array<std::uint8_t, 4>> ParseDottedIpv4(std::string_view text);

// An address a camera can be given and still be reached: a unicast host, not
// 0.x.x.x and not multicast, reserved or broadcast (224 and above).
bool IsUnicastHost(const std::array<std::uint8_t, 4>& ip);

// A unicast host that is also neither the network (.0) nor the broadcast
// (.255) address under the mask 255.255.255.0 the IP jobs send.
bool IsUsableHostAddress(const std::array<std::uint8_t, 4>& ip);

// The addresses a batch IP change from the start control gives `count`
// cameras: nothing, with the message that refuses the request, for a blank
// or partly blank start, a last octet of 0 or 255, an address that is no
// unicast host, or too few addresses after it.
std::optional<std::vector<std::string>> StartAddresses(bool blank,
                                                       const std::array<std::uint8_t, 4>& start,
                                                       std::size_t count, std::string* why);

// The mask and gateway an IP change sends: the mask box (empty: the
// specified 255.255.255.0) and the gateway box (empty: the camera keeps its own).
struct MaskGateway {
    std::uint32_t mask = addressing::kDefaultMask;
    std::optional<std::uint32_t> gateway;
    // Nothing beyond what the specified request sends: the specified call serves.
    bool Specified() const { return mask == addressing::kDefaultMask && !gateway; }
    std::string MaskText() const;
    std::string GatewayText() const;  // "" when kept
};

// The two boxes' texts ("" for a blank box) checked before anything is sent:
// a mask of contiguous ones with at least two hosts (/1../30), a gateway in
// dotted decimal. Nothing, with the reason (Chinese), otherwise.
std::optional<MaskGateway> ParseMaskGateway(std::string_view mask, std::string_view gateway,
                                            std::string* why);

// Why the gateway cannot serve the camera given `ip`: outside its subnet
// under the mask, that subnet's network or broadcast address, or the
// camera's own new address. "" when it can (or none is sent).
std::string GatewayRefusal(std::uint32_t ip, const MaskGateway& settings);

// The numbering of a batch IP change for the cameras `macs`, in list order:
// the start checked as StartAddresses does, then consecutive addresses that
// pass over what `inUse` holds for another camera or host and each subnet's
// network and broadcast address under `mask`, going on into the next subnets
// of that mask up to a.b.255.254 (or the start's subnet's last host when that
// lies further). With another mask than 255.255.255.0 the start may end in 0
// or 255 when it is a host of its subnet. With a gateway every camera must
// land in the gateway's subnet. Nothing, with the message that refuses it,
// otherwise.
std::optional<std::vector<addressing::Numbered>> NumberCameras(
    bool blank, const std::array<std::uint8_t, 4>& start, const std::vector<std::string>& macs,
    const addressing::InUse& inUse, std::string* why, const MaskGateway& settings = {});

// The addresses something of the list already holds: every row's and every
// record's of the last search, by the camera's MAC. An address two cameras
// claim is held for everyone.
struct HeldAddress {
    std::string ip;
    std::string mac;
};
addressing::InUse HeldAddresses(const std::vector<HeldAddress>& held);

}  // namespace app
