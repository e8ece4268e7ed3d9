// The answer of a library handler: the envelope (reqhandlers/envelope.hpp)
// and its body, written by a TextBuilder into json_text and handed to
// send_msg.
#pragma once

#include <string_view>

#include "reqhandlers/envelope.hpp"
#include "reqhandlers/text_builder.hpp"

namespace dcu::answer {

// Room for a count member written before the list it counts: "KEY":"<int>" and its separator.
inline constexpr std::size_t kCountMemberRoom = 48;

class Answer {
public:
    // Clears g_temp_str and writes the header into json_text, leaving DATA
    // open; what is left of earlier text beyond the answer is cleared when it
    // is sent.
    Answer(std::string_view type, int seq_num, CommandType command_type = CommandType::od_message);

    // The body, written into DATA.
    TextBuilder &body() noexcept { return text_; }
    // CMD_STATUS becomes "FAILURE".
    void fail() noexcept;
    // Closes the text (CMD_STATUS "FAILURE" if anything was left out for want
    // of room, or if a store command of the request got no reply), prints its length, hands it to send_msg; returns what send_msg
    // returned.
    int send();

private:
    std::size_t stale_end_;  // json_text may hold earlier text up to here
    TextBuilder text_;
    std::size_t status_offset_;
};

}  // namespace dcu::answer
