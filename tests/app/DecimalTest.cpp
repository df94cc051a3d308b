// Numbers of the command line and of config.ini: decimal digits only.
#include <gtest/gtest.h>

#include "app/Decimal.h"

namespace {

struct DecimalRow {
    const char* text;
    std::optional<long long> value;
};

class Decimal : public ::testing::TestWithParam<DecimalRow> {};

TEST_P(Decimal, OnlyDecimalDigitsInRange) {
    EXPECT_EQ(app::ParseDecimal(GetParam().text, 0, 100000), GetParam().value) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Decimal,
    ::testing::Values(DecimalRow{"5", 5}, DecimalRow{"010", 10}, DecimalRow{"0", 0},
                      DecimalRow{"100000", 100000}, DecimalRow{"0000000000000000000000031", 31},
                      DecimalRow{"100001", {}}, DecimalRow{"0x5", {}}, DecimalRow{"+5", {}},
                      DecimalRow{"-0", {}}, DecimalRow{" 5", {}}, DecimalRow{"5 ", {}},
                      DecimalRow{"5x", {}}, DecimalRow{"", {}}, DecimalRow{"1e3", {}},
                      DecimalRow{"99999999999999999999999", {}}, DecimalRow{"\xef\xbc\x95", {}}));

}  // namespace
