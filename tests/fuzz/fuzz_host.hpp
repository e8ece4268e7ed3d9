#pragma once

#include <string>
#include <vector>

namespace dcu::fuzz {

// Every text handed to send_msg, in order; the targets clear it.
std::vector<std::string> &sent_answers();

}  // namespace dcu::fuzz
