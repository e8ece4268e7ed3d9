// Command-line numbers of the serial tools.
#pragma once

#include <cctype>
#include <climits>

namespace dcu::serial {

// Reads a number the way atoi does: leading blanks, an optional sign, then
// digits up to the first other character; text without leading digits is 0.
// Unlike atoi, a number beyond the range of int is held at INT_MAX or INT_MIN
// instead of wrapping, so "4294967306" can never pass for 10.
inline int argToInt(const char *text) {
    while (std::isspace(static_cast<unsigned char>(*text)) != 0) ++text;
    const bool negative = *text == '-';
    if (*text == '-' || *text == '+') ++text;
    long long value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + (*text - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) break;
    }
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

}  // namespace dcu::serial
