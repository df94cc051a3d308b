#include "addressing/Numbering.h"

#include <algorithm>

namespace addressing {

namespace {

std::string Joined(const std::vector<std::uint32_t>& ips) {
    std::string out;
    for (const auto ip : ips) {
        if (!out.empty()) {
            out += "、";
        }
        out += FormatIpv4(ip);
    }
    return out;
}

}  // namespace

Numbering NumberFrom(std::uint32_t start, std::uint32_t mask, const std::vector<std::string>& macs,
                     const InUse& inUse, std::optional<std::uint32_t> through) {
    Numbering result;
    if (!UsableMask(mask)) {
        result.error = "子网掩码无效 " + FormatIpv4(mask);
        return result;
    }
    if ((start >> 24) == 0 || (start >> 24) >= 224) {
        result.error = "不是可用的主机地址 " + FormatIpv4(start);
        return result;
    }
    const Subnet net = Subnet::Of(start, mask);
    // Never on into multicast, whatever `through` says.
    const std::uint64_t last =
        through ? std::min<std::uint64_t>(*through, 0xDFFFFFFFu) : std::uint64_t{net.Broadcast()};
    // 64-bit, so that the end of 223.255.255.255 cannot wrap around.
    std::uint64_t next = start;
    for (const auto& mac : macs) {
        Numbered cam;
        cam.mac = mac;
        for (;;) {
            if (next > last) {
                result.cameras.clear();
                result.error =
                    through ? std::string("可用IP地址不足") : "子网 " + net.Text() + " 内地址不足";
                return result;
            }
            const auto ip = static_cast<std::uint32_t>(next++);
            if (!Subnet::Of(ip, mask).IsHost(ip)) {
                cam.skippedReserved.push_back(ip);
                continue;
            }
            const auto held = inUse.find(ip);
            if (held != inUse.end() && held->second != mac) {
                cam.skippedInUse.push_back(ip);
                continue;
            }
            cam.ip = ip;
            break;
        }
        result.cameras.push_back(std::move(cam));
    }
    return result;
}

std::vector<std::string> SkipNotes(const Numbered& camera) {
    std::vector<std::string> out;
    if (!camera.skippedInUse.empty()) {
        out.push_back("跳过已占用地址 " + Joined(camera.skippedInUse));
    }
    if (!camera.skippedReserved.empty()) {
        out.push_back("跳过网络或广播地址 " + Joined(camera.skippedReserved));
    }
    return out;
}

}  // namespace addressing
