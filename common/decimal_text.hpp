// Decimal numbers as the unit has always read them (atoi): texts such as
// "231", "-67" or "2" kept in the store, the number at the end of a meter
// directory's name, the serial tools' arguments; but without atoi's
// undefined behaviour on values beyond int.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace dcu::decimal {

// The number the text starts with: leading white space, an optional sign,
// then decimal digits up to the first other character. Nothing when no digit
// follows. A value beyond int is clamped to INT_MIN or INT_MAX.
std::optional<int> leading_value(std::string_view text) noexcept;

// As atoi: 0 when the text does not start with a number.
inline int atoi_value(std::string_view text) noexcept { return leading_value(text).value_or(0); }

// The low 8 bits of the number the text starts with, read as leading_value
// reads it but never clamped (what an 8-bit count of the unit keeps of any
// value, "257" as 1, "-1" as 255); 0 when it starts with none.
std::uint8_t leading_low_byte(std::string_view text) noexcept;

}  // namespace dcu::decimal
