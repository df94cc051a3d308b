#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "app/NaturalCompare.h"

namespace {

struct Ordered {
    std::string smaller;
    std::string larger;
};

class NaturalOrder : public ::testing::TestWithParam<Ordered> {};

TEST_P(NaturalOrder, SmallerComesFirstBothWays) {
    const Ordered& c = GetParam();
    EXPECT_LT(app::NaturalCompare(c.smaller, c.larger), 0) << c.smaller << " < " << c.larger;
    EXPECT_GT(app::NaturalCompare(c.larger, c.smaller), 0) << c.larger << " > " << c.smaller;
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, NaturalOrder,
    ::testing::Values(
        // digit runs by value
        Ordered{"192.168.0.9", "192.168.0.10"}, Ordered{"192.168.0.99", "192.168.1.2"},
        Ordered{"V1.0.9", "V1.0.10"}, Ordered{"V1.2", "V1.10"}, Ordered{"2.3.1_180101", "2.3.10_1"},
        Ordered{"00:11:22:33:44:9A", "00:11:22:33:44:10"},
        // runs longer than any integer type
        Ordered{"x99999999999999999999999999", "x100000000000000000000000000"},
        Ordered{"x123456789012345678901234567", "x123456789012345678901234568"},
        // leading zeros do not count; equal values go on after the run
        Ordered{"a007b", "a7c"}, Ordered{"a1", "a02"},
        // a prefix comes first, the empty text is the smallest
        Ordered{"", "a"}, Ordered{"", "0"}, Ordered{"abc", "abcd"}, Ordered{"1.2", "1.2.3"},
        // symbols < digits < letters < non-ASCII
        Ordered{"_", "0"}, Ordered{"-1", "1"}, Ordered{"9", "a"}, Ordered{"Z", "中"},
        Ordered{"z", "é"}, Ordered{"中", "文"}, Ordered{".", "~"},
        // letters without regard to case
        Ordered{"abc", "ABD"}, Ordered{"ABC", "abd"}, Ordered{"Ipc-A", "ipc-b"},
        // an overlong form (C0 B0 for "0") is malformed, not a digit or a letter
        Ordered{"9", "\xC0\xB0"}, Ordered{"z", "\xC1\x81"}, Ordered{"z", "\xE0\x80\xB0"}));

TEST(NaturalCompare, EqualTexts) {
    const std::vector<std::pair<std::string, std::string>> pairs{
        {"abc", "ABC"}, {"", ""}, {"v01.2", "V1.02"}, {"192.168.0.10", "192.168.0.10"}};
    for (const auto& [a, b] : pairs) {
        EXPECT_EQ(app::NaturalCompare(a, b), 0) << a << " = " << b;
        EXPECT_EQ(app::NaturalCompare(b, a), 0) << b << " = " << a;
    }
}

// Found by fuzz/natural_compare (kept in fuzz/regressions): an overlong "0"
// made three names sort in a circle.
TEST(NaturalCompare, OverlongFormsKeepTheOrderTransitive) {
    const std::string t[] = {std::string("0\x8B"
                                         "0v",
                                         4),
                             std::string("\xC0\xB0T", 3), std::string("00\x8B\xC6\xBC", 5)};
    for (const auto& a : t) {
        for (const auto& b : t) {
            for (const auto& c : t) {
                if (app::NaturalCompare(a, b) < 0 && app::NaturalCompare(b, c) < 0) {
                    EXPECT_LT(app::NaturalCompare(a, c), 0);
                }
            }
        }
    }
}

TEST(NaturalCompare, MalformedUtf8NeverCrashesAndStaysConsistent) {
    const std::string bad1 = "ab\xC3";
    const std::string bad2 = "ab\xE4\xB8";
    const std::string bad3 = "ab\xFF\xFE";
    for (const std::string& x : {bad1, bad2, bad3}) {
        for (const std::string& y : {bad1, bad2, bad3, std::string("ab"), std::string("abz")}) {
            const int xy = app::NaturalCompare(x, y);
            const int yx = app::NaturalCompare(y, x);
            EXPECT_EQ(xy > 0, yx < 0);
            EXPECT_EQ(xy == 0, yx == 0);
        }
    }
}

}  // namespace
