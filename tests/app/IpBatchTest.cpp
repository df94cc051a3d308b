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
