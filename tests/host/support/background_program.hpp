// A program of the project left running while the test talks to it (dcuhost
// --mqtt): its standard output and error go to files that the test reads as
// they grow; it is stopped by a signal to its PID. A child process of the
// tests (tests/support/child_process.hpp): DCU_TEST_EXEC_PREFIX in front,
// SIGTERM should the thread that started it end first, killed when the
// object goes.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/child_process.hpp"
#include "tests/support/temp_dir.hpp"

namespace dcu::test {

class BackgroundProgram {
public:
    BackgroundProgram(const std::vector<std::string> &argv, const std::map<std::string, std::string> &env = {});
    BackgroundProgram(const BackgroundProgram &) = delete;
    BackgroundProgram &operator=(const BackgroundProgram &) = delete;

    std::string out() const;
    std::string err() const;
    // Waits until standard error holds text at least times times; false at the deadline.
    bool wait_for_err(std::string_view text, int times, std::chrono::milliseconds within) const;
    // Sends signal (unless it has ended) and waits: the exit status, or 128 + the signal number.
    int stop(int signal_number);
    // Sends signal and does not wait (SIGSTOP, SIGCONT, or a stop for many at once).
    void signal(int signal_number) const;
    // Waits until it has ended, signalled before: the exit status, or 128 +
    // the signal number. One still running after `within` is killed (SIGKILL).
    int wait(std::chrono::milliseconds within = std::chrono::seconds(30));
    pid_t pid() const { return child_.pid(); }

private:
    TempDir dir_;
    ChildProcess child_;  // after dir_: a program still running is killed before its files go
};

}  // namespace dcu::test
