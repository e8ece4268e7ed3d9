// dcuweb as a host of the request-handler library: it defines what a host
// defines (the store handles, the configuration record, the debug log, the
// message outlet) and keeps each answer the library sends.
//
// The library prints its progress lines on standard output, which is the
// HTTP response here: dcuweb writes its reply to a descriptor of its own
// (reply_descriptor) and points standard output elsewhere for the whole run.
#pragma once

#include <functional>
#include <string>

#include "common/unique_fd.hpp"

namespace dcu::web {

// Takes standard output for the reply, and sends whatever else is printed
// there to /dev/null. Call once, first.
UniqueFd reply_descriptor();

// Connects the library's store connection (DCU_REDIS_PORT or 6379 on
// 127.0.0.1), once per run; false when the store can't be reached.
bool store_connected();
// Closes it, if it was made.
void close_store();

// The answer that call made the library send; empty when it sent none.
std::string answer_of(const std::function<void()> &call);

}  // namespace dcu::web
