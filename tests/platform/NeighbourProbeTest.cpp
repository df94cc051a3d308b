// Which addresses the LAN probe asks for, and how the neighbour table is read.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/NeighbourProbe.h"

namespace {

using platform::NetAdapter;

constexpr std::uint32_t Ip(unsigned a, unsigned b, unsigned c, unsigned d) {
    return (a << 24) | (b << 16) | (c << 8) | d;
}

NetAdapter Adapter(std::uint32_t address, int prefix) {
    NetAdapter a;
    a.name = "eth0";
    a.address = address;
    a.prefix = prefix;
    a.up = true;
    a.broadcast = true;
    return a;
}

TEST(OnLinkTargets, OnlyHostsOfAnAdapterSubnetAreAsked) {
    NetAdapter lo = Adapter(Ip(127, 0, 0, 1), 8);
    lo.loopback = true;
    NetAdapter down = Adapter(Ip(10, 88, 0, 1), 24);
    down.up = false;
    NetAdapter tunnel = Adapter(Ip(10, 8, 0, 1), 24);
    tunnel.pointToPoint = true;
    const std::vector<NetAdapter> adapters{lo, down, tunnel, Adapter(Ip(10, 77, 1, 100), 24),
                                           Adapter(Ip(172, 16, 0, 5), 32)};
    struct Case {
        const char* what;
        std::uint32_t ip;
        bool asked;
        bool own;
    };
    const Case cases[] = {
        {"a host of the LAN", Ip(10, 77, 1, 20), true, false},
        {"this PC's own address", Ip(10, 77, 1, 100), false, true},
        {"the subnet's network address", Ip(10, 77, 1, 0), false, false},
        {"the subnet's broadcast address", Ip(10, 77, 1, 255), false, false},
        {"off every subnet: through a router", Ip(10, 77, 2, 20), false, false},
        {"the loopback, even with its adapter", Ip(127, 0, 0, 5), false, false},
        {"an adapter that is down", Ip(10, 88, 0, 7), false, false},
        {"a point-to-point link", Ip(10, 8, 0, 2), false, false},
        {"a /32 has no neighbours", Ip(172, 16, 0, 6), false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::uint32_t> own;
        const auto asked = platform::OnLinkTargets(adapters, {c.ip, c.ip}, &own);
        EXPECT_EQ(asked, c.asked ? std::vector<std::uint32_t>{c.ip} : std::vector<std::uint32_t>{});
        EXPECT_EQ(own, c.own ? std::vector<std::uint32_t>{c.ip} : std::vector<std::uint32_t>{});
    }
}

TEST(OnLinkTargets, AnyAdaptersAddressIsThisPcsWhicheverSubnetComesFirst) {
    NetAdapter second = Adapter(Ip(10, 77, 1, 101), 24);
    second.up = false;
    std::vector<std::uint32_t> own;
    const auto asked = platform::OnLinkTargets({Adapter(Ip(10, 77, 1, 100), 24), second},
                                               {Ip(10, 77, 1, 101), Ip(10, 77, 1, 102)}, &own);
    EXPECT_EQ(asked, std::vector<std::uint32_t>{Ip(10, 77, 1, 102)});
    EXPECT_EQ(own, std::vector<std::uint32_t>{Ip(10, 77, 1, 101)});
}

TEST(ParseArpTable, OnlyCompleteEntriesWithAnAddressAndAMac) {
    const std::string table =
        "IP address       HW type     Flags       HW address            Mask     Device\n"
        "10.77.1.20       0x1         0x2         02:aa:bb:cc:dd:01     *        eth0\n"
        "10.77.1.21       0x1         0x0         00:00:00:00:00:00     *        eth0\n"
        "10.77.1.22       0x1         0x6         02:AA:BB:CC:DD:02     *        eth0\n"
        "10.77.1.23       0x1         0x2         00:00:00:00:00:00     *        eth0\n"
        "10.77.1.256      0x1         0x2         02:aa:bb:cc:dd:03     *        eth0\n"
        "10.77.1.24       0x1         0xZ         02:aa:bb:cc:dd:04     *        eth0\n"
        "10.77.1.25       0x1         0x2         02:aa:bb:cc:dd         *        eth0\n"
        "10.77.1.26 garbage\n"
        "\n"
        "10.77.1.27\t0x1\t0x2\t02:aa:bb:cc:dd:05\t*\teth1";
    const auto got = platform::ParseArpTable(table);
    EXPECT_EQ(got,
              (std::map<std::uint32_t, std::string>{{Ip(10, 77, 1, 20), "02:AA:BB:CC:DD:01"},
                                                    {Ip(10, 77, 1, 22), "02:AA:BB:CC:DD:02"},
                                                    {Ip(10, 77, 1, 27), "02:AA:BB:CC:DD:05"}}));
    // The header alone, nothing, or a table without line ends.
    EXPECT_TRUE(
        platform::ParseArpTable("IP address HW type Flags HW address Mask Device\n").empty());
    EXPECT_TRUE(platform::ParseArpTable("").empty());
    EXPECT_TRUE(platform::ParseArpTable(std::string(100000, 'x')).empty());
}

}  // namespace
