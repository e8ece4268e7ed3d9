#include "reqhandlers/json_escape.hpp"

#include <array>
#include <cstdint>
#include <cstring>

namespace dcu::answer {

namespace {

constexpr char kHex[] = "0123456789abcdef";

// utf8_sequence_length on the bytes at text, of which `available` are there.
std::size_t sequence_length(const unsigned char *text, std::size_t available) noexcept {
    unsigned char lead = text[0];
    std::size_t length = 0;
    unsigned char min_second = 0x80, max_second = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) min_second = 0xA0;
        if (lead == 0xED) max_second = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) min_second = 0x90;
        if (lead == 0xF4) max_second = 0x8F;
    } else {
        return 0;
    }
    if (available < length) return 0;
    if (text[1] < min_second || text[1] > max_second) return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (text[i] < 0x80 || text[i] > 0xBF) return 0;
    return length;
}

// Short escapes of JSON; 'u' means \u00XX.
char short_escape(unsigned char c) noexcept {
    switch (c) {
    case '"': return '"';
    case '\\': return '\\';
    case '\b': return 'b';
    case '\f': return 'f';
    case '\n': return 'n';
    case '\r': return 'r';
    case '\t': return 't';
    default: return 'u';
    }
}

// Bytes that need a look: control characters, the quote, the backslash, and
// every byte of a multi-byte UTF-8 sequence (checked, not changed, when valid).
constexpr std::array<bool, 256> kNeedsLook = [] {
    std::array<bool, 256> table{};
    for (std::size_t c = 0; c < 256; ++c) table[c] = c < 0x20 || c == '"' || c == '\\' || c >= 0x80;
    return table;
}();

bool needs_escape(unsigned char c) noexcept { return kNeedsLook[c]; }

// Whether any of eight bytes needs a look (the same bytes as kNeedsLook), by
// word arithmetic on all eight at once.
bool block_needs_look(std::uint64_t bytes) noexcept {
    constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
    constexpr std::uint64_t kHighs = 0x8080808080808080ULL;
    auto has_zero_byte = [](std::uint64_t x) { return (x - kOnes) & ~x & kHighs; };
    const std::uint64_t below_space = (bytes - kOnes * 0x20) & ~bytes & kHighs;
    const std::uint64_t quote = has_zero_byte(bytes ^ (kOnes * '"'));
    const std::uint64_t backslash = has_zero_byte(bytes ^ (kOnes * '\\'));
    return ((bytes & kHighs) | below_space | quote | backslash) != 0;
}

}  // namespace

// Bytes that are not valid UTF-8 are written as \u00XX (read as Latin-1), so
// the answer stays valid whatever a file or the store holds.
std::size_t escaped_length(std::string_view value) noexcept {
    const auto *text = reinterpret_cast<const unsigned char *>(value.data());
    const std::size_t size = value.size();
    std::size_t length = size;
    for (std::size_t i = 0; i < size;) {
        unsigned char c = text[i];
        if (!needs_escape(c)) {
            ++i;
        } else if (c >= 0x80) {
            std::size_t sequence = sequence_length(text + i, size - i);
            length += sequence ? 0 : 5;
            i += sequence ? sequence : 1;
        } else {
            length += short_escape(c) == 'u' ? 5 : 1;
            ++i;
        }
    }
    return length;
}

char *escape_into(char *out, std::string_view value) noexcept {
    const auto *text = reinterpret_cast<const unsigned char *>(value.data());
    const std::size_t size = value.size();
    std::size_t i = 0;
    for (;;) {
        // Eight plain bytes at a time; the last few of a value as one short
        // block (the bytes past its end count as plain), so that most values
        // never go byte by byte.
        while (i < size) {
            const std::size_t left = size - i;
            std::uint64_t block = 0x2020202020202020ULL;
            std::memcpy(&block, text + i, left < 8 ? left : 8);
            if (block_needs_look(block)) break;
            if (left < 8) {
                std::memcpy(out, text + i, left);
                return out + left;
            }
            std::memcpy(out, &block, 8);
            out += 8;
            i += 8;
        }
        if (i >= size) return out;
        // Byte by byte up to and including the byte that needs a look.
        unsigned char c = text[i];
        while (!needs_escape(c)) {
            *out++ = static_cast<char>(c);
            c = text[++i];
        }
        if (c >= 0x80) {
            if (std::size_t sequence = sequence_length(text + i, size - i)) {
                for (std::size_t end = i + sequence; i < end; ++i) *out++ = static_cast<char>(text[i]);
                continue;
            }
        }
        char kind = c >= 0x80 ? 'u' : short_escape(c);
        *out++ = '\\';
        *out++ = kind;
        if (kind == 'u') {
            *out++ = '0';
            *out++ = '0';
            *out++ = kHex[c >> 4];
            *out++ = kHex[c & 0x0F];
        }
        ++i;
    }
}

std::string escaped(std::string_view value) {
    std::string result(escaped_length(value), '\0');
    escape_into(result.data(), value);
    return result;
}

std::size_t utf8_sequence_length(std::string_view text) noexcept {
    if (text.empty()) return 0;
    return sequence_length(reinterpret_cast<const unsigned char *>(text.data()), text.size());
}

}  // namespace dcu::answer
