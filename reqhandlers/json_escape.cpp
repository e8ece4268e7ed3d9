#include "reqhandlers/json_escape.hpp"

#include <cstring>

namespace dcu::answer {

namespace {

constexpr char kHex[] = "0123456789abcdef";

// Length of the valid UTF-8 sequence starting at text[0], or 0 when the bytes
// there are not one (overlong forms, surrogates and values past U+10FFFF
// included).
std::size_t utf8_sequence_length(const unsigned char *text, std::size_t available) noexcept {
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

bool needs_escape(unsigned char c) noexcept { return c < 0x20 || c == '"' || c == '\\' || c >= 0x80; }

}  // namespace

// Bytes that are not valid UTF-8 are written as \u00XX (read as Latin-1), so
// the answer stays valid whatever a file or the store holds.
std::size_t escaped_length(std::string_view value) noexcept {
    const auto *text = reinterpret_cast<const unsigned char *>(value.data());
    const std::size_t size = value.size();
    std::size_t length = 0;
    for (std::size_t i = 0; i < size;) {
        unsigned char c = text[i];
        if (!needs_escape(c)) {
            ++length;
            ++i;
        } else if (c >= 0x80) {
            std::size_t sequence = utf8_sequence_length(text + i, size - i);
            length += sequence ? sequence : 6;
            i += sequence ? sequence : 1;
        } else {
            length += short_escape(c) == 'u' ? 6 : 2;
            ++i;
        }
    }
    return length;
}

char *escape_into(char *out, std::string_view value) noexcept {
    const auto *text = reinterpret_cast<const unsigned char *>(value.data());
    const std::size_t size = value.size();
    std::size_t run_start = 0;
    auto flush_run = [&](std::size_t end) {
        if (end == run_start) return;
        std::memcpy(out, text + run_start, end - run_start);
        out += end - run_start;
    };
    for (std::size_t i = 0; i < size;) {
        unsigned char c = text[i];
        if (!needs_escape(c)) {
            ++i;
            continue;
        }
        if (c >= 0x80) {
            if (std::size_t sequence = utf8_sequence_length(text + i, size - i)) {
                i += sequence;
                continue;
            }
        }
        flush_run(i);
        char kind = c >= 0x80 ? 'u' : short_escape(c);
        *out++ = '\\';
        *out++ = kind;
        if (kind == 'u') {
            *out++ = '0';
            *out++ = '0';
            *out++ = kHex[c >> 4];
            *out++ = kHex[c & 0x0F];
        }
        run_start = ++i;
    }
    flush_run(size);
    return out;
}

std::string escaped(std::string_view value) {
    std::string result(escaped_length(value), '\0');
    escape_into(result.data(), value);
    return result;
}

}  // namespace dcu::answer
