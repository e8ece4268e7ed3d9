// Decimal numbers as the unit's processes keep them in the store: texts such
// as "231", "-67" or "2", read the way the unit has always read them (atoi),
// but without atoi's undefined behaviour on values beyond int.
#pragma once

#include <optional>
#include <string_view>

namespace dcu::decimal {

// The number the text starts with: leading white space, an optional sign,
// then decimal digits up to the first other character. Nothing when no digit
// follows. A value beyond int is clamped to INT_MIN or INT_MAX.
std::optional<int> leading_value(std::string_view text) noexcept;

// As atoi: 0 when the text does not start with a number.
inline int atoi_value(std::string_view text) noexcept { return leading_value(text).value_or(0); }

}  // namespace dcu::decimal
