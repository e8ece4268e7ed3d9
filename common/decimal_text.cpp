#include "common/decimal_text.hpp"

#include <limits>

namespace dcu::decimal {

namespace {

constexpr bool is_space(char c) noexcept { return c == ' ' || (c >= '\t' && c <= '\r'); }
constexpr bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }

// The sign and the digits of the number the text starts with; no digits
// when it starts with none.
struct LeadingNumber {
    bool negative = false;
    std::string_view digits;
};

LeadingNumber leading_number(std::string_view text) noexcept {
    std::size_t at = 0;
    while (at < text.size() && is_space(text[at])) ++at;
    LeadingNumber number;
    number.negative = at < text.size() && text[at] == '-';
    if (at < text.size() && (text[at] == '-' || text[at] == '+')) ++at;
    std::size_t end = at;
    while (end < text.size() && is_digit(text[end])) ++end;
    number.digits = text.substr(at, end - at);
    return number;
}

}  // namespace

std::optional<int> leading_value(std::string_view text) noexcept {
    const LeadingNumber number = leading_number(text);
    if (number.digits.empty()) return std::nullopt;

    // Accumulated as a magnitude in long long, which holds every int and one
    // more digit; past the int range the value stays at the bound.
    constexpr long long kLimit = static_cast<long long>(std::numeric_limits<int>::max()) + 1;
    long long magnitude = 0;
    for (const char digit : number.digits) {
        magnitude = magnitude * 10 + (digit - '0');
        if (magnitude > kLimit) magnitude = kLimit;
    }
    if (number.negative) return static_cast<int>(-magnitude);
    return magnitude >= kLimit ? std::numeric_limits<int>::max() : static_cast<int>(magnitude);
}

std::uint8_t leading_low_byte(std::string_view text) noexcept {
    const LeadingNumber number = leading_number(text);
    unsigned low_byte = 0;
    for (const char digit : number.digits) low_byte = (low_byte * 10 + static_cast<unsigned>(digit - '0')) & 0xFFU;
    return static_cast<std::uint8_t>(number.negative ? (256U - low_byte) & 0xFFU : low_byte);
}

}  // namespace dcu::decimal
