// SIGINT and SIGTERM ask a long-running dcuhost to stop: caught for as long
// as a StopSignals lives, they set a flag and wake whoever waits on it.
// Blocking calls are interrupted (no SA_RESTART), so a loop that checks
// requested() after each one stops within one of its waits.
#pragma once

#include <chrono>

namespace dcu::host {

class StopSignals {
public:
    StopSignals();
    StopSignals(const StopSignals &) = delete;
    StopSignals &operator=(const StopSignals &) = delete;
    ~StopSignals();

    bool requested() const noexcept;
    // Waits up to delay, or less when a stop is asked for; true when it was.
    bool wait(std::chrono::milliseconds delay) const noexcept;
};

}  // namespace dcu::host
