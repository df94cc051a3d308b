#include "app/IpBatch.h"

#include <algorithm>
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

std::string MaskGateway::MaskText() const {
    return addressing::FormatIpv4(mask);
}

std::string MaskGateway::GatewayText() const {
    return gateway ? addressing::FormatIpv4(*gateway) : std::string();
}

std::optional<MaskGateway> ParseMaskGateway(std::string_view mask, std::string_view gateway,
                                            std::string* why) {
    MaskGateway out;
    // Texts from a box or a command line: shown back only when short and printable.
    auto shown = [](std::string_view text) {
        std::string s(text.substr(0, 32));
        for (char& c : s) {
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
                c = '?';
            }
        }
        return s;
    };
    if (!mask.empty()) {
        const auto m = addressing::ParseIpv4(mask);
        if (!m) {
            *why = "子网掩码格式不对：" + shown(mask);
            return std::nullopt;
        }
        const std::uint32_t hosts = ~*m;
        if (*m == 0) {
            *why = "子网掩码不能为0.0.0.0";
            return std::nullopt;
        }
        if ((hosts & (hosts + 1)) != 0) {
            *why = "子网掩码无效 " + addressing::FormatIpv4(*m) + "：前面的1必须连续";
            return std::nullopt;
        }
        if (!addressing::UsableMask(*m)) {
            *why = "子网掩码无效 " + addressing::FormatIpv4(*m) + "：子网内至少要有两个主机地址";
            return std::nullopt;
        }
        out.mask = *m;
    }
    if (!gateway.empty()) {
        const auto g = addressing::ParseIpv4(gateway);
        if (!g) {
            *why = "网关格式不对：" + shown(gateway);
            return std::nullopt;
        }
        if (!IsUnicastHost({static_cast<std::uint8_t>(*g >> 24), 0, 0, 0})) {
            *why = "网关 " + addressing::FormatIpv4(*g) + " 不是可用的主机地址";
            return std::nullopt;
        }
        out.gateway = *g;
    }
    return out;
}

std::string GatewayRefusal(std::uint32_t ip, const MaskGateway& settings) {
    if (!settings.gateway) {
        return {};
    }
    const std::uint32_t gw = *settings.gateway;
    const auto net = addressing::Subnet::Of(ip, settings.mask);
    if (!net.Contains(gw)) {
        return "网关 " + addressing::FormatIpv4(gw) + " 不在新地址 " + addressing::FormatIpv4(ip) +
               " 的子网 " + net.Text() + " 内";
    }
    if (!net.IsHost(gw)) {
        return "网关 " + addressing::FormatIpv4(gw) + " 是子网 " + net.Text() + " 的网络或广播地址";
    }
    if (gw == ip) {
        return "网关 " + addressing::FormatIpv4(gw) + " 不能是设备自己的新地址";
    }
    return {};
}

std::optional<std::vector<addressing::Numbered>> NumberCameras(
    bool blank, const std::array<std::uint8_t, 4>& start, const std::vector<std::string>& macs,
    const addressing::InUse& inUse, std::string* why, const MaskGateway& settings) {
    const std::uint32_t first = Number(start);
    if (settings.mask == addressing::kDefaultMask) {
        if (StartRefused(blank, start, why)) {
            return std::nullopt;
        }
    } else if (blank) {
        *why = "起始IP不能为空";
        return std::nullopt;
    } else if (!IsUnicastHost(start) ||
               !addressing::Subnet::Of(first, settings.mask).IsHost(first)) {
        // Under a wider mask .0 and .255 may be hosts; the subnet decides.
        *why = "起始IP " + addressing::FormatIpv4(first) + " 不是子网 " +
               addressing::Subnet::Of(first, settings.mask).Text() + " 的可用主机地址";
        return std::nullopt;
    }
    const std::uint32_t last = addressing::Subnet::Of(first, settings.mask).Broadcast() - 1;
    const std::uint32_t through = std::max(Number({start[0], start[1], 255, 254}), last);
    auto numbering = addressing::NumberFrom(first, settings.mask, macs, inUse, through);
    if (!numbering.error.empty()) {
        *why = numbering.error;
        return std::nullopt;
    }
    for (const addressing::Numbered& n : numbering.cameras) {
        if (auto refusal = GatewayRefusal(n.ip, settings); !refusal.empty()) {
            *why = std::move(refusal);
            return std::nullopt;
        }
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
