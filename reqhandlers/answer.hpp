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
    // Clears json_text and g_temp_str and writes the header, leaving DATA open.
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
    TextBuilder text_;
    std::size_t status_offset_;
};

}  // namespace dcu::answer
