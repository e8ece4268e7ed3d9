// Escaping of values taken from requests, files and the store, so that every
// answer is valid JSON. Ordinary values (valid UTF-8 without quotes,
// backslashes or control characters) come out byte for byte.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace dcu::answer {

// The length of value once escaped.
std::size_t escaped_length(std::string_view value) noexcept;

// The most bytes any value of this size can take once escaped.
constexpr std::size_t max_escaped_length(std::size_t size) noexcept { return size * 6; }

// Writes the escaped value at out, which has room for escaped_length(value)
// bytes; returns the end of what was written.
char *escape_into(char *out, std::string_view value) noexcept;

std::string escaped(std::string_view value);

// The length of the valid UTF-8 sequence at the start of text, or 0 when the
// bytes there are not one (overlong forms, surrogates and values past
// U+10FFFF included): such a byte is escaped on its own, as \u00XX.
std::size_t utf8_sequence_length(std::string_view text) noexcept;

}  // namespace dcu::answer
