// The system's own adapter listing, on Linux and under Wine: whatever the
// machine has, the entries are sane and the loopback is never searched on.
// Listing sends nothing.
#include <gtest/gtest.h>

#include "platform/NetAdapters.h"

namespace {

TEST(NetAdapters, SystemListingIsSaneAndKeepsTheLoopbackOut) {
    std::string error;
    const auto list = platform::ListNetAdapters(&error);
    ASSERT_TRUE(list) << error;
    int loopbacks = 0;
    for (const auto& a : *list) {
        const std::string what = a.name + " " + platform::FormatIpv4(a.address);
        EXPECT_FALSE(a.name.empty()) << what;
        EXPECT_NE(a.address, 0u) << what;
        EXPECT_GE(a.prefix, 0) << what;
        EXPECT_LE(a.prefix, 32) << what;
        if ((a.address >> 24) == 127) {
            ++loopbacks;
            EXPECT_TRUE(a.loopback) << what;
            EXPECT_FALSE(a.broadcast) << what;
            EXPECT_FALSE(platform::CarriesSearch(a)) << what;
        }
        if (a.loopback || !a.up) {
            EXPECT_FALSE(platform::CarriesSearch(a)) << what;
        }
    }
    EXPECT_GE(loopbacks, 1) << "no loopback address listed";
}

}  // namespace
