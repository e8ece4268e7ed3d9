// A program that runs until it is stopped, watched while it runs. Its
// standard output is a raw pseudo-terminal, as when the tools are used by
// hand at a terminal (so stdio writes each line as it ends); standard error
// is a pipe of its own. A child process of the tests
// (tests/support/child_process.hpp): DCU_TEST_EXEC_PREFIX is honoured.
// The program starts with SIGINT, SIGTERM and SIGHUP at their default
// actions and unblocked, however the test itself was started, unless it is
// asked to start with some of them ignored (as under nohup).
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "common/unique_fd.hpp"
#include "tests/support/child_process.hpp"
#include "tests/tools/serial/pty_pair.hpp"

namespace dcu::test {

class LiveProgram {
public:
    LiveProgram(const std::vector<std::string> &argv, const std::map<std::string, std::string> &env,
                const std::vector<int> &ignored_signals = {});
    LiveProgram(const LiveProgram &) = delete;
    LiveProgram &operator=(const LiveProgram &) = delete;
    ~LiveProgram();

    // Collects output until `text` is in it; false at the deadline or when
    // the program's output ended first.
    bool wait_for(std::string_view text, std::chrono::milliseconds limit = kSerialDeadline);

    // Sends the signal, collects the rest of the output and waits for the
    // program. Returns its exit status, or 128 + the signal that ended it;
    // -1 when it had already ended by itself before the signal came. A
    // program that the signal does not end is killed at the deadline.
    int stop(int signal = SIGTERM);

    // Sends a signal and leaves the program running.
    void send(int signal) const;

    const std::string &output() const { return out_; }
    const std::string &errors() const { return err_; }

private:
    // Reads whatever arrives within timeout_ms; false once both streams ended.
    bool pump(int timeout_ms);

    ChildProcess child_;
    UniqueFd out_read_;
    UniqueFd err_read_;
    std::string out_;
    std::string err_;
};

}  // namespace dcu::test
