// The unit's way of reading decimals, shared by the handlers (store values,
// meter directory names) and the serial tools (their arguments): atoi's
// reading without its undefined behaviour past int, and the low byte that
// an 8-bit count keeps of any value.
#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <string_view>

#include "common/decimal_text.hpp"

namespace {

using dcu::decimal::atoi_value;
using dcu::decimal::leading_low_byte;
using dcu::decimal::leading_value;

struct Case {
    std::string_view text;
    std::optional<int> value;  // leading_value
    unsigned low_byte;         // leading_low_byte
};

const Case kCases[] = {
    {"231", 231, 231},
    {"-67", -67, 189},
    {" \t\n+12 apples", 12, 12},
    {"7x", 7, 7},
    {"", std::nullopt, 0},
    {"-", std::nullopt, 0},
    {"+ 5", std::nullopt, 0},
    {"x5", std::nullopt, 0},
    {"257", 257, 1},
    {"2147483647", INT_MAX, 255},
    {"2147483648", INT_MAX, 0},
    {"-2147483648", INT_MIN, 0},
    {"-2147483649", INT_MIN, 255},
    // Wrapped modulo 2^32 this would pass for 10: held at the bound instead.
    {"4294967306", INT_MAX, 10},
    {"99999999999999999999", INT_MAX, 255},
};

TEST(DecimalText, ReadsAsAtoiHeldAtTheBoundsOfInt) {
    for (const Case &c : kCases) {
        EXPECT_EQ(leading_value(c.text), c.value) << c.text;
        EXPECT_EQ(atoi_value(c.text), c.value.value_or(0)) << c.text;
    }
}

TEST(DecimalText, LowByteIsTheValueModulo256NeverClamped) {
    for (const Case &c : kCases) EXPECT_EQ(leading_low_byte(c.text), c.low_byte) << c.text;
}

}  // namespace
