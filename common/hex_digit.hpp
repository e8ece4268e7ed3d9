// One hexadecimal digit's value, as the escapes of JSON texts (\uXXXX) and
// of a web form's data (%XX) spell characters and bytes.
#pragma once

#include <string_view>

namespace dcu {

// 0 to 15 for a digit of either case; -1 for any other character.
constexpr int hex_digit_value(char c) noexcept {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The code of a \uXXXX escape from its four digits as the JSON parser of the
// platform reads them: 0 when any of them is not a hexadecimal digit, so that
// "\uZZZZ" is a NUL to it as "\u0000" is.
constexpr unsigned json_escape_code(std::string_view four_digits) noexcept {
    unsigned value = 0;
    for (const char c : four_digits) {
        const int digit = hex_digit_value(c);
        if (digit < 0) return 0;
        value = value << 4 | static_cast<unsigned>(digit);
    }
    return value;
}

}  // namespace dcu
