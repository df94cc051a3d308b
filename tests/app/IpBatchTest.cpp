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

}  // namespace
