// The C boundary of the handlers: every entry point the host calls goes
// through guarded, so nothing thrown inside (memory running out is the one
// thing that can throw) may reach the host, and every store command inside
// belongs to the request's scope (an answer built while one of them failed
// says so). An entry point that a handler calls in turn (find_ser_num) is
// part of the handler's request: its scope counts from the handler's.
#pragma once

#include "common/store.hpp"

namespace dcu::entry {

// Returns what work returns. When work throws, on_failure runs in its place
// (it sends the handler's FAILURE answer, so the host still gets its one
// answer) and its result is returned; should that throw too, 0.
template <class Work, class OnFailure>
int guarded(Work &&work, OnFailure &&on_failure) noexcept {
    const store::RequestScope request;
    try {
        return work();
    } catch (...) {
    }
    try {
        return on_failure();
    } catch (...) {
        return 0;
    }
}

}  // namespace dcu::entry
