// The head of every answer, the library's and the host's own alike:
//
//   {
//   "TYPE":"<type>",
//   "SEQ_NUM":"<seq_num>",
//   "CMD_TYPE":"OD_MESSAGE",        (DATATYPE for the diagnostics answers)
//   "CMD_STATUS":"<status>",
//   "DATA":
//   {
//
// written into a TextBuilder, whose finish closes DATA and the answer.
#pragma once

#include <cstddef>
#include <string_view>

#include "reqhandlers/text_builder.hpp"

namespace dcu::answer {

enum class CommandType { od_message, modem_message, dlms_diag_message };

inline constexpr std::string_view kSuccess = "SUCCESS";
inline constexpr std::string_view kFailure = "FAILURE";

// Writes the members up to DATA and opens DATA for the body. Returns where
// the value of CMD_STATUS starts, for a patch of the other status (both are
// seven bytes).
std::size_t open_envelope(TextBuilder &text, std::string_view type, std::string_view seq_num,
                          CommandType command_type, std::string_view status);

}  // namespace dcu::answer
