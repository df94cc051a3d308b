#include "addressing/ScanRange.h"

#include <optional>

#include "addressing/Address.h"

namespace addressing {
namespace {

constexpr const char* kGarbage =
    "无法识别的地址：请输入IP地址（10.77.1.10）、范围（10.77.1.10-10.77.1.50）或网段"
    "（10.77.1.0/24）";

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) {
        s.remove_suffix(1);
    }
    return s;
}

ScanRange Refuse(std::string why) {
    ScanRange r;
    r.error = std::move(why);
    return r;
}

// 0..32, one or two digits, nothing else.
std::optional<int> ParsePrefix(std::string_view s) {
    if (s.empty() || s.size() > 2) {
        return std::nullopt;
    }
    int v = 0;
    for (const char c : s) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        v = v * 10 + (c - '0');
    }
    return v <= 32 ? std::optional<int>(v) : std::nullopt;
}

// No camera holds these: "this network" and multicast, reserved and broadcast.
bool Askable(std::uint32_t ip) {
    return (ip >> 24) != 0 && ip < 0xE0000000u;
}

}  // namespace

ScanRange ParseScanRange(std::string_view text) {
    if (text.size() > kMaxScanText) {
        return Refuse("地址太长：最多" + std::to_string(kMaxScanText) + "个字符");
    }
    text = Trim(text);
    if (text.empty()) {
        return Refuse("请输入要搜索的IP地址、范围或网段");
    }
    std::uint32_t first = 0;
    std::uint32_t last = 0;
    if (const auto slash = text.find('/'); slash != std::string_view::npos) {
        const auto base = ParseIpv4(Trim(text.substr(0, slash)));
        const auto prefix = ParsePrefix(Trim(text.substr(slash + 1)));
        if (!base || !prefix) {
            return Refuse(kGarbage);
        }
        const std::uint32_t mask = *prefix == 0 ? 0u : 0xFFFFFFFFu << (32 - *prefix);
        first = *base & mask;
        last = first | ~mask;
        if (*prefix <= 30) {
            // Nobody holds a subnet's network or broadcast address; asking
            // the broadcast one would be a broadcast.
            ++first;
            --last;
        }
    } else if (const auto dash = text.find('-'); dash != std::string_view::npos) {
        const auto a = ParseIpv4(Trim(text.substr(0, dash)));
        const auto b = ParseIpv4(Trim(text.substr(dash + 1)));
        if (!a || !b) {
            return Refuse(kGarbage);
        }
        if (*a > *b) {
            return Refuse("范围的起始地址 " + FormatIpv4(*a) + " 大于结束地址 " + FormatIpv4(*b));
        }
        first = *a;
        last = *b;
    } else {
        const auto a = ParseIpv4(text);
        if (!a) {
            return Refuse(kGarbage);
        }
        first = last = *a;
    }
    const std::uint64_t count = std::uint64_t{last} - first + 1;
    if (count > kMaxScanAddresses) {
        return Refuse("地址太多：" + std::to_string(count) + "个，一次最多搜索" +
                      std::to_string(kMaxScanAddresses) + "个");
    }
    if (!Askable(first) || !Askable(last)) {
        return Refuse("范围内有不能搜索的地址（0.x.x.x、组播或广播地址）");
    }
    ScanRange r;
    r.addresses.reserve(static_cast<std::size_t>(count));
    for (std::uint64_t ip = first; ip <= last; ++ip) {
        r.addresses.push_back(static_cast<std::uint32_t>(ip));
    }
    return r;
}

}  // namespace addressing
