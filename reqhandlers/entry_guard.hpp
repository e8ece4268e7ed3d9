// The C boundary of the handlers: nothing thrown inside (memory running out
// is the one thing that can throw) may reach the host.
#pragma once

namespace dcu::entry {

// Returns what work returns. When work throws, on_failure runs in its place
// (it sends the handler's FAILURE answer, so the host still gets its one
// answer) and its result is returned; should that throw too, 0.
template <class Work, class OnFailure>
int guarded(Work &&work, OnFailure &&on_failure) noexcept {
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
