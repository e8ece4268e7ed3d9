#include "reqhandlers/decimal_text.hpp"

#include <limits>

namespace dcu::decimal {

namespace {
constexpr bool is_space(char c) noexcept { return c == ' ' || (c >= '\t' && c <= '\r'); }
constexpr bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }
}  // namespace

std::optional<int> leading_value(std::string_view text) noexcept {
    std::size_t at = 0;
    while (at < text.size() && is_space(text[at])) ++at;
    const bool negative = at < text.size() && text[at] == '-';
    if (at < text.size() && (text[at] == '-' || text[at] == '+')) ++at;
    if (at >= text.size() || !is_digit(text[at])) return std::nullopt;

    // Accumulated as a magnitude in long long, which holds every int and one
    // more digit; past the int range the value stays at the bound.
    constexpr long long kLimit = static_cast<long long>(std::numeric_limits<int>::max()) + 1;
    long long magnitude = 0;
    for (; at < text.size() && is_digit(text[at]); ++at) {
        magnitude = magnitude * 10 + (text[at] - '0');
        if (magnitude > kLimit) magnitude = kLimit;
    }
    if (negative) return static_cast<int>(-magnitude);
    return magnitude >= kLimit ? std::numeric_limits<int>::max() : static_cast<int>(magnitude);
}

}  // namespace dcu::decimal
