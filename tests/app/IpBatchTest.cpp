#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/IpBatch.h"

namespace {

using Octets = std::array<std::uint8_t, 4>;

TEST(ConsecutiveAddresses, CountsUpWithinTheSubnet) {
    EXPECT_EQ(app::ConsecutiveAddresses(Octets{192, 168, 1, 100}, 3),
              (std::vector<std::string>{"192.168.1.100", "192.168.1.101", "192.168.1.102"}));
    EXPECT_EQ(app::ConsecutiveAddresses(Octets{192, 168, 1, 254}, 1),
              (std::vector<std::string>{"192.168.1.254"}));
    EXPECT_EQ(app::ConsecutiveAddresses(Octets{10, 0, 0, 1}, 0), (std::vector<std::string>{}));
}

TEST(ConsecutiveAddresses, GoesOnInTheNextSubnetSkippingZeroAnd255) {
    EXPECT_EQ(
        app::ConsecutiveAddresses(Octets{192, 168, 0, 253}, 4),
        (std::vector<std::string>{"192.168.0.253", "192.168.0.254", "192.168.1.1", "192.168.1.2"}));
    const auto many = app::ConsecutiveAddresses(Octets{10, 1, 0, 1}, 254 * 3);
    ASSERT_TRUE(many);
    EXPECT_EQ(many->back(), "10.1.2.254");
    for (const std::string& a : *many) {
        const auto last = a.substr(a.rfind('.') + 1);
        EXPECT_NE(last, "0");
        EXPECT_NE(last, "255");
    }
}

TEST(ConsecutiveAddresses, RefusesPastTheLastSubnet) {
    // From 1.2.255.250 only 250..254 are left.
    EXPECT_TRUE(app::ConsecutiveAddresses(Octets{1, 2, 255, 250}, 5));
    EXPECT_FALSE(app::ConsecutiveAddresses(Octets{1, 2, 255, 250}, 6));
    // From 1.2.254.254: that one plus 254 in 1.2.255.
    EXPECT_TRUE(app::ConsecutiveAddresses(Octets{1, 2, 254, 254}, 255));
    EXPECT_FALSE(app::ConsecutiveAddresses(Octets{1, 2, 254, 254}, 256));
    EXPECT_FALSE(app::ConsecutiveAddresses(Octets{1, 2, 3, 0}, 1));
    EXPECT_FALSE(app::ConsecutiveAddresses(Octets{1, 2, 3, 255}, 1));
}

// With nothing in use the numbering is the batch's as it always was, up to
// the last address and the refusal just past it.
TEST(NumberCameras, WithNothingInUseIsTheConsecutiveNumbering) {
    struct Case {
        Octets start;
        std::size_t count;
    };
    const Case cases[] = {{{192, 168, 1, 100}, 3},   {{192, 168, 1, 254}, 2},
                          {{10, 1, 0, 1}, 254 * 3},  {{1, 2, 255, 250}, 5},
                          {{1, 2, 255, 250}, 6},     {{1, 2, 254, 254}, 255},
                          {{1, 2, 254, 254}, 256},   {{223, 255, 255, 254}, 1},
                          {{223, 255, 255, 254}, 2}, {{10, 0, 0, 1}, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.start[2]) + "." + std::to_string(c.start[3]) + " x" +
                     std::to_string(c.count));
        std::vector<std::string> macs;
        for (std::size_t i = 0; i < c.count; ++i) {
            macs.push_back("02:00:00:00:00:" + std::to_string(i));
        }
        std::string why;
        const auto want = app::StartAddresses(false, c.start, c.count, &why);
        const std::string wantWhy = why;
        why.clear();
        const auto got = app::NumberCameras(false, c.start, macs, {}, &why);
        ASSERT_EQ(got.has_value(), want.has_value());
        EXPECT_EQ(why, wantWhy);
        if (!got) {
            continue;
        }
        ASSERT_EQ(got->size(), want->size());
        for (std::size_t i = 0; i < got->size(); ++i) {
            EXPECT_EQ(addressing::FormatIpv4((*got)[i].ip), (*want)[i]);
            EXPECT_EQ((*got)[i].mac, macs[i]);
            EXPECT_TRUE((*got)[i].skippedInUse.empty());
        }
    }
}

// The two boxes as typed (or the console's --mask/--gateway): accepted with
// what is sent, or refused with the reason before anything is sent.
TEST(MaskGateway, EachInputIsTakenOrRefusedWithItsReason) {
    struct Case {
        const char* mask;
        const char* gateway;
        const char* sentMask;  // null: refused
        const char* sentGateway;
        const char* why;
    };
    const Case cases[] = {
        {"", "", "255.255.255.0", "", ""},
        {"255.255.254.0", "", "255.255.254.0", "", ""},
        {"255.255.0.0", "10.77.0.1", "255.255.0.0", "10.77.0.1", ""},
        {"", "10.77.1.1", "255.255.255.0", "10.77.1.1", ""},
        {"128.0.0.0", "", "128.0.0.0", "", ""},
        {"255.255.255.252", "", "255.255.255.252", "", ""},
        {"0.0.0.0", "", nullptr, nullptr, "子网掩码不能为0.0.0.0"},
        {"255.255.255.255", "", nullptr, nullptr,
         "子网掩码无效 255.255.255.255：子网内至少要有两个主机地址"},
        {"255.255.255.254", "", nullptr, nullptr,
         "子网掩码无效 255.255.255.254：子网内至少要有两个主机地址"},
        {"255.0.255.0", "", nullptr, nullptr, "子网掩码无效 255.0.255.0：前面的1必须连续"},
        {"0.255.255.255", "", nullptr, nullptr, "子网掩码无效 0.255.255.255：前面的1必须连续"},
        {"255.255.255.1", "", nullptr, nullptr, "子网掩码无效 255.255.255.1：前面的1必须连续"},
        {"255.255..0", "", nullptr, nullptr, "子网掩码格式不对：255.255..0"},
        {"255.255.256.0", "", nullptr, nullptr, "子网掩码格式不对：255.255.256.0"},
        {"/24", "", nullptr, nullptr, "子网掩码格式不对：/24"},
        {"", "10.77.1", nullptr, nullptr, "网关格式不对：10.77.1"},
        {"", "10.77.1.1\n", nullptr, nullptr, "网关格式不对：10.77.1.1?"},
        {"", "0.0.0.0", nullptr, nullptr, "网关 0.0.0.0 不是可用的主机地址"},
        {"", "224.0.0.1", nullptr, nullptr, "网关 224.0.0.1 不是可用的主机地址"},
        {"255.0.0.0.0", "1.2.3.4", nullptr, nullptr, "子网掩码格式不对：255.0.0.0.0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.mask) + " / " + c.gateway);
        std::string why;
        const auto got = app::ParseMaskGateway(c.mask, c.gateway, &why);
        ASSERT_EQ(got.has_value(), c.sentMask != nullptr) << why;
        EXPECT_EQ(why, c.why);
        if (got) {
            EXPECT_EQ(got->MaskText(), c.sentMask);
            EXPECT_EQ(got->GatewayText(), c.sentGateway);
            EXPECT_EQ(got->Specified(), std::string(c.mask).empty() && c.gateway[0] == '\0');
        }
    }
}

// The mask in use decides which addresses are network or broadcast ones and
// where the start may lie; a gateway must serve every camera of the batch.
TEST(NumberCameras, TheMaskDrivesTheNumberingAndTheGatewayTheSubnet) {
    struct Case {
        Octets start;
        std::size_t count;
        const char* mask;
        const char* gateway;
        std::vector<const char*> want;  // empty: refused with `why`
        const char* why;
    };
    const Case cases[] = {
        // Under /23 .255 and .0 inside the subnet are hosts.
        {{10, 77, 0, 254}, 3, "255.255.254.0", "", {"10.77.0.254", "10.77.0.255", "10.77.1.0"}, ""},
        {{10, 77, 0, 255}, 1, "255.255.254.0", "10.77.0.1", {"10.77.0.255"}, ""},
        // ...and its own broadcast is passed over into the next /23.
        {{10, 77, 1, 254}, 2, "255.255.254.0", "", {"10.77.1.254", "10.77.2.1"}, ""},
        // The start may not be the subnet's network or broadcast address.
        {{10, 77, 1, 255},
         1,
         "255.255.254.0",
         "",
         {},
         "起始IP 10.77.1.255 不是子网 10.77.0.0/23 的可用主机地址"},
        {{10, 77, 0, 0},
         1,
         "255.255.254.0",
         "",
         {},
         "起始IP 10.77.0.0 不是子网 10.77.0.0/23 的可用主机地址"},
        // The specified mask keeps the specified refusals.
        {{10, 77, 0, 255}, 1, "", "", {}, "IP地址最后一位不能255"},
        // /30: two hosts per subnet.
        {{10, 0, 0, 1}, 3, "255.255.255.252", "", {"10.0.0.1", "10.0.0.2", "10.0.0.5"}, ""},
        // A /16 numbers past a.b.255.254 no further than its last host.
        {{10, 9, 255, 253}, 2, "255.255.0.0", "10.9.0.1", {"10.9.255.253", "10.9.255.254"}, ""},
        {{10, 9, 255, 253}, 3, "255.255.0.0", "", {}, "可用IP地址不足"},
        // A /8 may go on through a.b.255.x into a.(b+1).
        {{10, 9, 255, 254}, 2, "255.0.0.0", "10.0.0.1", {"10.9.255.254", "10.9.255.255"}, ""},
        // The gateway: inside, not reserved, not a camera's own address.
        {{10, 77, 1, 10}, 2, "", "10.77.1.1", {"10.77.1.10", "10.77.1.11"}, ""},
        {{10, 77, 1, 10},
         2,
         "",
         "10.77.2.1",
         {},
         "网关 10.77.2.1 不在新地址 10.77.1.10 的子网 10.77.1.0/24 内"},
        {{10, 77, 1, 253},
         3,
         "",
         "10.77.1.1",
         {},
         "网关 10.77.1.1 不在新地址 10.77.2.1 的子网 10.77.2.0/24 内"},
        {{10, 77, 1, 10},
         1,
         "",
         "10.77.1.255",
         {},
         "网关 10.77.1.255 是子网 10.77.1.0/24 的网络或广播地址"},
        {{10, 77, 1, 10},
         1,
         "255.255.254.0",
         "10.77.0.0",
         {},
         "网关 10.77.0.0 是子网 10.77.0.0/23 的网络或广播地址"},
        {{10, 77, 1, 10}, 2, "", "10.77.1.11", {}, "网关 10.77.1.11 不能是设备自己的新地址"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.start[2]) + "." + std::to_string(c.start[3]) + " " + c.mask +
                     " " + c.gateway);
        std::string why;
        const auto settings = app::ParseMaskGateway(c.mask, c.gateway, &why);
        ASSERT_TRUE(settings) << why;
        std::vector<std::string> macs;
        for (std::size_t i = 0; i < c.count; ++i) {
            macs.push_back("02:00:00:00:00:0" + std::to_string(i));
        }
        const auto got = app::NumberCameras(false, c.start, macs, {}, &why, *settings);
        ASSERT_EQ(got.has_value(), !c.want.empty()) << why;
        if (!got) {
            EXPECT_EQ(why, c.why);
            continue;
        }
        ASSERT_EQ(got->size(), c.want.size());
        for (std::size_t i = 0; i < got->size(); ++i) {
            EXPECT_EQ(addressing::FormatIpv4((*got)[i].ip), c.want[i]);
        }
    }
}

TEST(HeldAddresses, AnAddressTwoCamerasClaimIsNoOnesOwn) {
    const auto held = app::HeldAddresses({{"10.0.0.1", "A"},
                                          {"10.0.0.2", "B"},
                                          {"10.0.0.2", "C"},
                                          {"10.0.0.3", "D"},
                                          {"10.0.0.3", "D"},
                                          {"not an address", "E"}});
    EXPECT_EQ(held, (addressing::InUse{{0x0A000001u, "A"}, {0x0A000002u, ""}, {0x0A000003u, "D"}}));
}

}  // namespace
