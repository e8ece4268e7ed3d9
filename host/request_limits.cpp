#include "host/request_limits.hpp"

namespace dcu::host {

namespace {

// Length of the valid UTF-8 sequence at the start of text, or 0 when the
// bytes there are not one. The same rules as the answers' escaping, which
// sends a byte outside a valid sequence on its own (as \u00XX): cutting
// before such a byte splits no character.
std::size_t utf8_sequence_length(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
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
    if (text.size() < length || byte(1) < min_second || byte(1) > max_second) return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
    return length;
}

}  // namespace

std::string too_large_reason() { return "request larger than " + std::to_string(kMaxRequestBytes) + " bytes"; }

std::string echo_of(std::string_view value) {
    if (value.size() <= kEchoBytes) return std::string(value);
    std::size_t kept = 0;
    for (;;) {
        const std::size_t sequence = utf8_sequence_length(value.substr(kept));
        const std::size_t character = sequence == 0 ? 1 : sequence;
        if (kept + character > kEchoBytes) break;
        kept += character;
    }
    return std::string(value.substr(0, kept)) + "...";
}

}  // namespace dcu::host
