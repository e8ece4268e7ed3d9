// A serial line for the tests: a socat pseudo-terminal pair whose two ends
// appear as links where the programs look for their devices (for example
// $DCU_ROOT/dev/ttyS0 and $DCU_ROOT/dev/ttyS1). Bytes written at one end
// arrive at the other, as over a null-modem cable. No real device is used.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>

#include "common/unique_fd.hpp"
#include "tests/support/child_process.hpp"

namespace dcu::test {

// Generous, for slow runs under a checker; nothing waits this long when all goes well.
inline constexpr std::chrono::milliseconds kSerialDeadline{20000};

class PtyPair {
public:
    // Starts socat and returns once both links exist.
    PtyPair(std::filesystem::path end_a, std::filesystem::path end_b);
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;
    // SIGTERM to socat by its PID, then waits for it.
    ~PtyPair();

private:
    ChildProcess socat_;
    UniqueFd log_;  // socat's standard error, kept open so its notices never meet a closed pipe
};

// Opens one end of a line as the test's own, raw and without blocking.
UniqueFd open_line_end(const std::filesystem::path &device);

// The line settings of a device as the programs left them, read without
// changing them.
termios line_settings(const std::filesystem::path &device);

// Gives a device these line settings, as another program (stty, a modem
// daemon) would have left them before a tool opens it; returns them as the
// driver kept them (a pseudo-terminal, for one, always keeps 8 data bits).
termios set_line_settings(const std::filesystem::path &device, const termios &settings);

// Line settings a serial tool never uses itself, to tell whether a tool put
// back what it found: canonical input with echo and signals, output
// processing, 38400 bit/s, VMIN 1, VTIME 5.
termios cooked_settings();

// Whether two sets of line settings are the same in every word, control
// character and speed.
bool same_line_settings(const termios &a, const termios &b);

// Bytes waiting in the input queue of the terminal behind fd.
int queued_bytes(int fd);

// Waits until at least count bytes wait in fd's input queue; false at the deadline.
bool wait_until_queued(int fd, int count);

// Reads exactly count bytes from a non-blocking fd; fewer at the deadline.
std::string read_bytes(int fd, std::size_t count);

}  // namespace dcu::test
