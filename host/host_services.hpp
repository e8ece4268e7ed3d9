// What dcuhost provides to the request-handler library as its host process:
// the store handles, the configuration record, the debug log and the
// message outlet.
#pragma once

#include <functional>
#include <string_view>

namespace dcu::host {

// Where send_msg delivers each answer. It returns what send_msg returns.
using AnswerSink = std::function<int(std::string_view answer)>;
void set_answer_sink(AnswerSink sink);

}  // namespace dcu::host
