#include "app/IpBatch.h"

#include <cstdio>
#include <utility>

namespace app {

std::optional<std::vector<std::string>> ConsecutiveAddresses(
    const std::array<std::uint8_t, 4>& start, std::size_t count) {
    unsigned c = start[2];
    unsigned d = start[3];
    if (d == 0 || d == 255) {
        return std::nullopt;
    }
    // Usable addresses from the start on: the rest of this subnet plus 254 per
    // further subnet up to c = 255. Checked before anything is built.
    const std::size_t available = (255u - d) + static_cast<std::size_t>(255u - c) * 254u;
    if (count > available) {
        return std::nullopt;
    }
    std::vector<std::string> out;
    out.reserve(count);
    for (std::size_t k = 0; k < count; ++k) {
        if (d > 254) {
            d = 1;
            ++c;
        }
        char text[16];
        std::snprintf(text, sizeof(text), "%u.%u.%u.%u", unsigned{start[0]}, unsigned{start[1]}, c,
                      d);
        out.emplace_back(text);
        ++d;
    }
    return out;
}

std::optional<std::array<std::uint8_t, 4>> ParseDottedIpv4(std::string_view text) {
    std::array<std::uint8_t, 4> out{};
    std::size_t pos = 0;
    for (std::size_t part = 0; part < 4; ++part) {
        if (part > 0) {
            if (pos >= text.size() || text[pos] != '.') {
                return std::nullopt;
            }
            ++pos;
        }
        const std::size_t first = pos;
        unsigned value = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && pos - first < 3) {
            value = value * 10 + static_cast<unsigned>(text[pos] - '0');
            ++pos;
        }
        const std::size_t digits = pos - first;
        if (digits == 0 || value > 255 || (digits > 1 && text[first] == '0')) {
            return std::nullopt;
        }
        out[part] = static_cast<std::uint8_t>(value);
    }
    if (pos != text.size()) {
        return std::nullopt;
    }
    return out;
}

bool IsUnicastHost(const std::array<std::uint8_t, 4>& ip) {
    return ip[0] != 0 && ip[0] < 224;
}

bool IsUsableHostAddress(const std::array<std::uint8_t, 4>& ip) {
    return IsUnicastHost(ip) && ip[3] != 0 && ip[3] != 255;
}

namespace {

// The start's own refusals, in the order the request checks them.
bool StartRefused(bool blank, const std::array<std::uint8_t, 4>& start, std::string* why) {
    if (blank) {
        *why = "起始IP不能为空";
    } else if (start[3] == 0) {
        *why = "IP地址最后一位不能0";
    } else if (start[3] == 255) {
        *why = "IP地址最后一位不能255";
    } else if (!IsUnicastHost(start)) {
        char text[96];
        std::snprintf(text, sizeof(text), "起始IP %d.%d.%d.%d 不是可用的主机地址", start[0],
                      start[1], start[2], start[3]);
        *why = text;
    } else {
        return false;
    }
    return true;
}

std::uint32_t Number(const std::array<std::uint8_t, 4>& ip) {
    return (std::uint32_t{ip[0]} << 24) | (std::uint32_t{ip[1]} << 16) |
           (std::uint32_t{ip[2]} << 8) | std::uint32_t{ip[3]};
}

}  // namespace

std::optional<std::vector<addressing::Numbered>> NumberCameras(
    bool blank, const std::array<std::uint8_t, 4>& start, const std::vector<std::string>& macs,
    const addressing::InUse& inUse, std::string* why) {
    if (StartRefused(blank, start, why)) {
        return std::nullopt;
    }
    const std::uint32_t first = Number(start);
    const std::uint32_t through = Number({start[0], start[1], 255, 254});
    auto numbering = addressing::NumberFrom(first, addressing::kDefaultMask, macs, inUse, through);
    if (!numbering.error.empty()) {
        *why = numbering.error;
        return std::nullopt;
    }
    return std::move(numbering.cameras);
}

addressing::InUse HeldAddresses(const std::vector<HeldAddress>& held) {
    addressing::InUse out;
    for (const HeldAddress& h : held) {
        const auto ip = addressing::ParseIpv4(h.ip);
        if (!ip) {
            continue;
        }
        const auto [it, added] = out.emplace(*ip, h.mac);
        if (!added && it->second != h.mac) {
            it->second.clear();  // no camera may count it as its own
        }
    }
    return out;
}

std::optional<std::vector<std::string>> StartAddresses(bool blank,
                                                       const std::array<std::uint8_t, 4>& start,
                                                       std::size_t count, std::string* why) {
    if (StartRefused(blank, start, why)) {
        return std::nullopt;
    }
    if (auto addresses = ConsecutiveAddresses(start, count)) {
        return addresses;
    }
    *why = "可用IP地址不足";
    return std::nullopt;
}

}  // namespace app
