// The neighbour table reader and the choice of addresses the LAN probe asks for.
// Input: one byte, how many adapters (0..3); per adapter four address bytes, a
// prefix byte and a flags byte; one byte, how many targets (0..31), four bytes
// each; then the table's text.
// Properties: every entry read is an address of the text with a MAC of six
// upper-case hex pairs, not all zero, that reads the same when written back;
// no more than 4096 entries. Every address asked for is unique, not loopback,
// a host of an adapter that is up and neither loopback nor point-to-point, and
// never an adapter's own address, which is this PC's instead.

#include <set>

#include "FuzzUtil.h"
#include "platform/NeighbourProbe.h"

namespace {

std::uint32_t U32(qvfuzz::Input& in) {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
        v = (v << 8) | in.Byte();
    }
    return v;
}

bool HostOf(const platform::NetAdapter& a, std::uint32_t ip) {
    if (!a.up || a.loopback || a.pointToPoint || a.prefix < 1 || a.prefix > 31) {
        return false;
    }
    const std::uint32_t mask = ~std::uint32_t{0} << (32 - a.prefix);
    const std::uint32_t net = a.address & mask;
    return (ip & mask) == net && ip != net && ip != (net | ~mask);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    qvfuzz::Input in(data, size);
    std::vector<platform::NetAdapter> adapters(in.Byte() % 4);
    for (auto& a : adapters) {
        a.address = U32(in);
        a.prefix = in.Byte() % 34;
        const std::uint8_t flags = in.Byte();
        a.up = (flags & 1) != 0;
        a.loopback = (flags & 2) != 0;
        a.pointToPoint = (flags & 4) != 0;
    }
    std::vector<std::uint32_t> targets(in.Byte() % 32);
    for (auto& t : targets) {
        t = U32(in);
    }
    const std::string text = in.Rest();

    const auto table = platform::ParseArpTable(text);
    FUZZ_CHECK(table.size() <= 4096);
    for (const auto& [ip, mac] : table) {
        FUZZ_CHECK(mac.size() == 17 && mac != "00:00:00:00:00:00");
        for (std::size_t i = 0; i < mac.size(); ++i) {
            const char c = mac[i];
            FUZZ_CHECK(i % 3 == 2 ? c == ':' : ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')));
        }
        // Written back as the kernel writes it, the entry reads the same.
        const std::string line = "IP address HW type Flags HW address Mask Device\n" +
                                 platform::FormatIpv4(ip) + " 0x1 0x2 " + mac + " * eth0\n";
        FUZZ_CHECK(platform::ParseArpTable(line) ==
                   (std::map<std::uint32_t, std::string>{{ip, mac}}));
    }

    std::vector<std::uint32_t> own;
    const auto asked = platform::OnLinkTargets(adapters, targets, &own);
    std::set<std::uint32_t> seen;
    for (const std::uint32_t ip : asked) {
        FUZZ_CHECK(seen.insert(ip).second);
        FUZZ_CHECK((ip >> 24) != 127);
        bool host = false;
        for (const auto& a : adapters) {
            FUZZ_CHECK(a.address != ip);
            host = host || HostOf(a, ip);
        }
        FUZZ_CHECK(host);
    }
    for (const std::uint32_t ip : own) {
        FUZZ_CHECK(seen.insert(ip).second);
        FUZZ_CHECK((ip >> 24) != 127);
        bool mine = false;
        for (const auto& a : adapters) {
            mine = mine || a.address == ip;
        }
        FUZZ_CHECK(mine);
    }
    return 0;
}
