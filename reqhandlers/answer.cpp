#include "reqhandlers/answer.hpp"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "common/store.hpp"
#include "dcu/reqhandlers.h"

namespace dcu::answer {

namespace {

// How far json_text may hold text of earlier answers: all of it at first,
// and while an answer is being written; after a sent answer of the library,
// that answer's length. The host gets json_text all zero beyond the answer,
// as if it had been cleared whole, but only the stale bytes beyond the new
// answer are cleared, once it is finished: an answer as long as the one
// before clears nothing, where clearing first would zero 200 kB and then
// write most of it again.
std::size_t g_json_text_dirty = sizeof json_text;

// Where earlier text may reach in json_text now. The host may have written
// text of its own since (fill_user_obis_det, or a text of its own): that
// reaches at least to the first NUL.
std::size_t stale_json_text() {
    const std::size_t dirty = std::max(g_json_text_dirty, ::strnlen(json_text, sizeof json_text));
    g_json_text_dirty = sizeof json_text;  // until this answer is sent
    std::memset(g_temp_str, 0, sizeof g_temp_str);
    return std::min(dirty + 1, sizeof json_text);
}

}  // namespace

Answer::Answer(std::string_view type, int seq_num, CommandType command_type)
    : stale_end_(stale_json_text()), text_({json_text, sizeof json_text}) {
    char digits[16];
    const auto written = std::to_chars(digits, digits + sizeof digits, seq_num);
    status_offset_ = open_envelope(text_, type, std::string_view(digits, static_cast<std::size_t>(written.ptr - digits)),
                                   command_type, kSuccess);
}

void Answer::fail() noexcept { text_.patch(status_offset_, kFailure); }

int Answer::send() {
    if (text_.overflowed()) fail();
    // A store command of this request that got no reply leaves the answer
    // without what the store holds: it must not pass for a complete one.
    if (const auto *request = store::RequestScope::current(); request != nullptr && request->store_failed()) fail();
    std::size_t length = text_.finish();
    if (stale_end_ > length + 1) std::memset(json_text + length + 1, 0, stale_end_ - length - 1);
    g_json_text_dirty = length;
    std::printf("Sending Json text Len : %d\n", static_cast<int>(length));
    return send_msg(json_text);
}

}  // namespace dcu::answer
