// How much of a request the host takes in, and how much of what was sent it
// says back. Whatever a head-end (or anything else on its topic) sends, the
// host's memory, its failure answers and its log lines stay small.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace dcu::host {

// The largest request the host reads: a --stdin line (without its line end)
// or a broker message. Larger ones are refused unread.
constexpr std::size_t kMaxRequestBytes = 65536;

// The most bytes of a value sent that a failure answer or a log line repeats.
constexpr std::size_t kEchoBytes = 64;

// The reason given for a request larger than kMaxRequestBytes.
std::string too_large_reason();

// A value as the host repeats it: whole when it has at most kEchoBytes bytes;
// otherwise at most its first kEchoBytes bytes, ending between two characters
// (never inside a UTF-8 sequence), followed by "...". Bytes are kept as they
// are: escaping, where there is any, comes after.
std::string echo_of(std::string_view value);

}  // namespace dcu::host
