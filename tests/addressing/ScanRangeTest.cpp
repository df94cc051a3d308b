// The text of a search by address: what is asked, and what is refused with which reason.

#include <gtest/gtest.h>

#include <string>

#include "addressing/Address.h"
#include "addressing/ScanRange.h"

namespace {

using namespace addressing;

struct Case {
    const char* text;
    const char* first;    // nullptr: refused
    const char* last;     // the last address asked
    std::size_t count;    // addresses asked
    const char* refusal;  // a part of the reason, when refused
};

const Case kCases[] = {
    // One address, with blanks around it.
    {"10.77.1.20", "10.77.1.20", "10.77.1.20", 1, nullptr},
    {"  10.77.1.20\t", "10.77.1.20", "10.77.1.20", 1, nullptr},
    // A range, spaces around the dash allowed; one of a single address.
    {"10.77.1.10-10.77.1.50", "10.77.1.10", "10.77.1.50", 41, nullptr},
    {"10.77.1.10 - 10.77.1.50", "10.77.1.10", "10.77.1.50", 41, nullptr},
    {"10.77.1.7-10.77.1.7", "10.77.1.7", "10.77.1.7", 1, nullptr},
    // Across an octet.
    {"10.77.0.250-10.77.1.5", "10.77.0.250", "10.77.1.5", 12, nullptr},
    // A prefix leaves out its network and broadcast address.
    {"10.77.1.0/24", "10.77.1.1", "10.77.1.254", 254, nullptr},
    {"10.77.1.77/24", "10.77.1.1", "10.77.1.254", 254, nullptr},
    {"10.77.0.0/22", "10.77.0.1", "10.77.3.254", 1022, nullptr},
    {"10.77.1.4/30", "10.77.1.5", "10.77.1.6", 2, nullptr},
    // /31 and /32 have no network or broadcast address to leave out.
    {"10.77.1.4/31", "10.77.1.4", "10.77.1.5", 2, nullptr},
    {"10.77.1.9/32", "10.77.1.9", "10.77.1.9", 1, nullptr},
    // The loopback lab's cameras.
    {"127.0.0.0/24", "127.0.0.1", "127.0.0.254", 254, nullptr},
    // Exactly the limit, and one beyond.
    {"10.77.0.1-10.77.4.0", "10.77.0.1", "10.77.4.0", 1024, nullptr},
    {"10.77.0.1-10.77.4.1", nullptr, nullptr, 0, "1025个"},
    {"10.77.0.0/21", nullptr, nullptr, 0, "一次最多搜索1024个"},
    {"10.0.0.0/8", nullptr, nullptr, 0, "一次最多搜索1024个"},
    {"0.0.0.0/0", nullptr, nullptr, 0, "一次最多搜索1024个"},
    // Reversed.
    {"10.77.1.50-10.77.1.10", nullptr, nullptr, 0, "起始地址 10.77.1.50 大于结束地址 10.77.1.10"},
    // Garbage.
    {"", nullptr, nullptr, 0, "请输入"},
    {"   ", nullptr, nullptr, 0, "请输入"},
    {"10.77.1", nullptr, nullptr, 0, "无法识别"},
    {"10.77.1.256", nullptr, nullptr, 0, "无法识别"},
    {"10.77.1.1-", nullptr, nullptr, 0, "无法识别"},
    {"-10.77.1.1", nullptr, nullptr, 0, "无法识别"},
    {"10.77.1.1-10.77.1.2-10.77.1.3", nullptr, nullptr, 0, "无法识别"},
    {"10.77.1.0/33", nullptr, nullptr, 0, "无法识别"},
    {"10.77.1.0/", nullptr, nullptr, 0, "无法识别"},
    {"10.77.1.0/024", nullptr, nullptr, 0, "无法识别"},
    {"10.77.1.0/2x", nullptr, nullptr, 0, "无法识别"},
    {"10.77.1.0/24/24", nullptr, nullptr, 0, "无法识别"},
    {"10.77.1.1,10.77.1.2", nullptr, nullptr, 0, "无法识别"},
    {"camera-1", nullptr, nullptr, 0, "无法识别"},
    {"10.77.1.1\n", nullptr, nullptr, 0, "无法识别"},
    {"+10.77.1.1", nullptr, nullptr, 0, "无法识别"},
    {"10.77.1.1/24-10.77.1.9", nullptr, nullptr, 0, "无法识别"},
    // Addresses no camera holds.
    {"0.0.0.5", nullptr, nullptr, 0, "不能搜索"},
    {"224.0.0.1", nullptr, nullptr, 0, "不能搜索"},
    {"255.255.255.255", nullptr, nullptr, 0, "不能搜索"},
    {"223.255.255.250-224.0.0.3", nullptr, nullptr, 0, "不能搜索"},
    {"239.1.1.0/24", nullptr, nullptr, 0, "不能搜索"},
};

TEST(ScanRange, EachFormAndEachRefusal) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(std::string("text \"") + c.text + "\"");
        const ScanRange r = ParseScanRange(c.text);
        if (c.first == nullptr) {
            EXPECT_FALSE(r.ok());
            EXPECT_TRUE(r.addresses.empty());
            EXPECT_NE(r.error.find(c.refusal), std::string::npos) << r.error;
            continue;
        }
        ASSERT_TRUE(r.ok()) << r.error;
        ASSERT_EQ(r.addresses.size(), c.count);
        EXPECT_EQ(FormatIpv4(r.addresses.front()), c.first);
        EXPECT_EQ(FormatIpv4(r.addresses.back()), c.last);
        for (std::size_t i = 1; i < r.addresses.size(); ++i) {
            ASSERT_EQ(r.addresses[i], r.addresses[i - 1] + 1);
        }
    }
}

TEST(ScanRange, AnOverlongTextIsRefusedBeforeItIsRead) {
    const std::string padded = std::string(kMaxScanText - 10, ' ') + "10.77.1.1";
    EXPECT_TRUE(ParseScanRange(padded).ok());
    const std::string longer = std::string(kMaxScanText, ' ') + "10.77.1.1";
    const ScanRange r = ParseScanRange(longer);
    EXPECT_FALSE(r.ok());
    EXPECT_NE(r.error.find("最多64个字符"), std::string::npos) << r.error;
    // Nothing the user typed is echoed back: the reason is safe for any terminal.
    EXPECT_EQ(ParseScanRange("\x1b[2Jevil").error.find('\x1b'), std::string::npos);
}

}  // namespace
