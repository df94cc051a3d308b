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
        // symbols < digits < letters < Han
        Ordered{"_", "0"}, Ordered{"-1", "1"}, Ordered{"9", "a"}, Ordered{"Z", "中"},
        Ordered{".", "~"},
        // non-ASCII text as a Chinese Windows PC orders it: case and accents
        // only after the letters, Han in pinyin order
        Ordered{"z", "中"}, Ordered{"é", "F"}, Ordered{"é", "f"}, Ordered{"Ä", "b"},
        Ordered{"文", "中"}, Ordered{"升级成功", "修改IP成功"}, Ordered{"等待", "正常"},
        Ordered{"阿", "吧"}, Ordered{"等待升级", "升级失败"}, Ordered{"相机2", "相机10"},
        Ordered{"IPC-é9", "IPC-É10"}, Ordered{"α", "Ω"}, Ordered{"Ωa", "ωb"},
        // accents only break ties, the unaccented letter first (pinyin tone
        // marks included)
        Ordered{"e", "é"}, Ordered{"E", "é"}, Ordered{"cafe 2", "café 1"}, Ordered{"a", "ā"},
        Ordered{"ǎ", "b"},
        // letters without regard to case
        Ordered{"abc", "ABD"}, Ordered{"ABC", "abd"}, Ordered{"Ipc-A", "ipc-b"},
        // an overlong form (C0 B0 for "0") is malformed, not a digit or a letter
        Ordered{"9", "\xC0\xB0"}, Ordered{"z", "\xC1\x81"}, Ordered{"z", "\xE0\x80\xB0"}));

// The order of ASCII-only texts: symbols, then digits, then letters without
// case, each class by character code (case folded), one character at a time.
int AsciiRank(char c) {
    if (c >= '0' && c <= '9') {
        return 1000 + c;
    }
    if (c >= 'A' && c <= 'Z') {
        return 2000 + (c - 'A' + 'a');
    }
    if (c >= 'a' && c <= 'z') {
        return 2000 + c;
    }
    return c;
}

TEST(NaturalCompare, AsciiOrderIsUnchangedForEveryPairOfCharacters) {
    for (char a = 0x20; a < 0x7F; ++a) {
        for (char b = 0x20; b < 0x7F; ++b) {
            const std::string x{'x', a};
            const std::string y{'x', b};
            const int want = AsciiRank(a) < AsciiRank(b) ? -1 : (AsciiRank(a) > AsciiRank(b));
            const int got = app::NaturalCompare(x, y);
            EXPECT_EQ(got < 0 ? -1 : (got > 0), want) << x << " vs " << y;
        }
    }
}

TEST(NaturalCompare, EqualTexts) {
    const std::vector<std::pair<std::string, std::string>> pairs{
        {"abc", "ABC"}, {"", ""},   {"v01.2", "V1.02"}, {"192.168.0.10", "192.168.0.10"},
        {"é", "É"},     {"Ä", "ä"}, {"Ω", "ω"},         {"École 7", "ÉCOLE 07"}};
    for (const auto& [a, b] : pairs) {
        EXPECT_EQ(app::NaturalCompare(a, b), 0) << a << " = " << b;
        EXPECT_EQ(app::NaturalCompare(b, a), 0) << b << " = " << a;
    }
}

// Found by fuzz/natural_compare (kept in fuzz/regressions): names that sorted
// in a circle, through an overlong "0", and through symbols that the
// collator orders unlike their codes (# < _ by code, _ < § < # collated).
TEST(NaturalCompare, OrderStaysTransitive) {
    const std::vector<std::vector<std::string>> triples = {
        {std::string("0\x8B"
                     "0v",
                     4),
         std::string("\xC0\xB0T", 3), std::string("00\x8B\xC6\xBC", 5)},
        {"#", "_", "§"},
        {"a#1", "a_1", "a§1"},
    };
    for (const auto& t : triples) {
        for (const auto& a : t) {
            for (const auto& b : t) {
                for (const auto& c : t) {
                    if (app::NaturalCompare(a, b) < 0 && app::NaturalCompare(b, c) < 0) {
                        EXPECT_LT(app::NaturalCompare(a, c), 0) << a << " < " << b << " < " << c;
                    }
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
