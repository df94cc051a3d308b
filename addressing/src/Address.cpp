#include "addressing/Address.h"

#include <cstdio>

namespace addressing {

std::optional<std::uint32_t> ParseIpv4(std::string_view text) {
    std::uint32_t out = 0;
    std::size_t at = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (at >= text.size() || text[at] != '.') {
                return std::nullopt;
            }
            ++at;
        }
        std::uint32_t value = 0;
        std::size_t digits = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 4) {
            value = value * 10 + static_cast<std::uint32_t>(text[at] - '0');
            ++at;
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255) {
            return std::nullopt;
        }
        out = (out << 8) | value;
    }
    if (at != text.size()) {
        return std::nullopt;
    }
    return out;
}

std::string FormatIpv4(std::uint32_t ip) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", ip >> 24, (ip >> 16) & 0xFFu, (ip >> 8) & 0xFFu,
                  ip & 0xFFu);
    return buf;
}

std::optional<std::string> NormalizeMac(std::string_view text) {
    if (text.size() != 17) {
        return std::nullopt;
    }
    const char sep = text[2];
    if (sep != ':' && sep != '-') {
        return std::nullopt;
    }
    std::string out(17, ':');
    for (std::size_t i = 0; i < 17; ++i) {
        const char c = text[i];
        if (i % 3 == 2) {
            if (c != sep) {
                return std::nullopt;
            }
            continue;
        }
        if (c >= '0' && c <= '9') {
            out[i] = c;
        } else if (c >= 'a' && c <= 'f') {
            out[i] = static_cast<char>(c - 'a' + 'A');
        } else if (c >= 'A' && c <= 'F') {
            out[i] = c;
        } else {
            return std::nullopt;
        }
    }
    return out;
}

bool UsableMask(std::uint32_t mask) {
    const std::uint32_t hosts = ~mask;
    // Contiguous: the host part is 2^n - 1; at least two hosts: n >= 2.
    return mask != 0 && (hosts & (hosts + 1)) == 0 && hosts >= 3;
}

std::string Subnet::Text() const {
    int prefix = 0;
    for (std::uint32_t m = mask; (m & 0x80000000u) != 0; m <<= 1) {
        ++prefix;
    }
    return FormatIpv4(network) + "/" + std::to_string(prefix);
}

std::string CheckAddress(std::uint32_t ip, std::uint32_t mask,
                         std::optional<std::uint32_t> gateway) {
    if (!UsableMask(mask)) {
        return "子网掩码无效 " + FormatIpv4(mask);
    }
    const Subnet net = Subnet::Of(ip, mask);
    if ((ip >> 24) == 0 || (ip >> 24) >= 224 || !net.IsHost(ip)) {
        return "不是可用的主机地址 " + FormatIpv4(ip);
    }
    if (gateway && (!net.IsHost(*gateway) || *gateway == ip)) {
        return "网关不在子网内 " + FormatIpv4(*gateway);
    }
    return {};
}

}  // namespace addressing
