// One hexadecimal digit's value, as the escapes of JSON texts (\uXXXX) and
// of a web form's data (%XX) spell characters and bytes.
#pragma once

namespace dcu {

// 0 to 15 for a digit of either case; -1 for any other character.
constexpr int hex_digit_value(char c) noexcept {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace dcu
