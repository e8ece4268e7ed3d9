#include "host/request_limits.hpp"

#include "reqhandlers/json_escape.hpp"

namespace dcu::host {

std::string too_large_reason() { return "request larger than " + std::to_string(kMaxRequestBytes) + " bytes"; }

std::string echo_of(std::string_view value) {
    if (value.size() <= kEchoBytes) return std::string(value);
    std::size_t kept = 0;
    for (;;) {
        // A byte outside a valid sequence is a character of its own, as the
        // answers' escaping sends it: cutting before it splits nothing.
        const std::size_t sequence = answer::utf8_sequence_length(value.substr(kept));
        const std::size_t character = sequence == 0 ? 1 : sequence;
        if (kept + character > kEchoBytes) break;
        kept += character;
    }
    return std::string(value.substr(0, kept)) + "...";
}

}  // namespace dcu::host
