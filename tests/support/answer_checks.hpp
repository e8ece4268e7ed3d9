// Checks that hold for every answer of the library, whatever went wrong
// while it was built: strict JSON, the envelope's members, and every count
// member equal to the length of the list it counts.
#pragma once

#include <string>
#include <string_view>

namespace dcu::test {

// Empty when the answer holds; otherwise what is wrong.
//  - strict JSON (RFC 8259), one object;
//  - TYPE, SEQ_NUM and CMD_STATUS ("SUCCESS" or "FAILURE") are there, and a DATA object;
//  - in DATA: NUM_PARAM is the length of PARAM_LIST (or of INST_PARAM),
//    NUM_ENTRIES that of the data list (the member named *_DATA), NUM_FILES
//    of FILE_LIST, NUM_DIRS of DIR_LIST, NUM_MET of MET_LIST; every record of
//    the data list has NUM_PARAM values V0, V1, ...; every port object of the
//    status answer has a STATUS list as long as its NUM_METERS (position k
//    is meter k).
std::string answer_problem(std::string_view text);

// A member of the answer's envelope or of its DATA ("DATA.NUM_FILES"), as text;
// empty when there is no such text member.
std::string answer_member(std::string_view text, std::string_view path);

}  // namespace dcu::test
