#include "tests/tools/serial/live_program.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <stdexcept>

#include "tests/support/child_process.hpp"

namespace dcu::test {

namespace {

using Clock = std::chrono::steady_clock;

// A pseudo-terminal in raw mode: the bytes the program prints arrive
// unchanged (no line-end translation).
void open_raw_pty(UniqueFd &master, UniqueFd &slave) {
    master.reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!master || ::grantpt(master.get()) != 0 || ::unlockpt(master.get()) != 0) {
        throw std::runtime_error("no pseudo-terminal");
    }
    char name[128];
    if (::ptsname_r(master.get(), name, sizeof name) != 0) throw std::runtime_error("ptsname failed");
    slave.reset(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!slave) throw std::runtime_error("cannot open pseudo-terminal");
    termios settings{};
    ::tcgetattr(slave.get(), &settings);
    ::cfmakeraw(&settings);
    ::tcsetattr(slave.get(), TCSANOW, &settings);
}

}  // namespace

LiveProgram::LiveProgram(const std::vector<std::string> &argv, const std::map<std::string, std::string> &env,
                         const std::vector<int> &ignored_signals) {
    UniqueFd out_write;
    open_raw_pty(out_read_, out_write);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    err_read_.reset(fds[0]);
    const UniqueFd err_write(fds[1]);

    ChildLaunch launch;
    launch.argv = with_exec_prefix(argv);
    launch.env = environment_with(env);
    launch.stdout_fd = out_write.get();
    launch.stderr_fd = err_write.get();
    launch.default_signals = {SIGINT, SIGTERM, SIGHUP};
    launch.ignored_signals = ignored_signals;
    child_ = ChildProcess(launch);
}

LiveProgram::~LiveProgram() {
    if (child_.running()) stop();
}

bool LiveProgram::pump(int timeout_ms) {
    std::vector<pollfd> fds;
    if (out_read_) fds.push_back({out_read_.get(), POLLIN, 0});
    if (err_read_) fds.push_back({err_read_.get(), POLLIN, 0});
    if (fds.empty()) return false;
    if (::poll(fds.data(), fds.size(), timeout_ms) <= 0) return true;
    for (const auto &ready : fds) {
        if (ready.revents == 0) continue;
        const bool is_out = ready.fd == out_read_.get();
        char buffer[4096];
        // The pseudo-terminal reports EIO once the program and its output are gone.
        ssize_t n = ::read(ready.fd, buffer, sizeof buffer);
        if (n > 0) {
            (is_out ? out_ : err_).append(buffer, static_cast<std::size_t>(n));
        } else {
            (is_out ? out_read_ : err_read_).reset();
        }
    }
    return true;
}

bool LiveProgram::wait_for(std::string_view text, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (out_.find(text) == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0 || !pump(static_cast<int>(left))) return false;
    }
    return true;
}

void LiveProgram::send(int signal) const { child_.signal(signal); }

int LiveProgram::stop(int signal) {
    if (!child_.running()) return -1;
    const bool ended_early = child_.poll().has_value();
    if (!ended_early) child_.signal(signal);
    const auto deadline = Clock::now() + kSerialDeadline;
    while (Clock::now() < deadline && pump(100)) {
    }
    // A program whose output is still open after the deadline did not end.
    if (!ended_early && (out_read_ || err_read_)) child_.signal(SIGKILL);
    const int exit_code = child_.wait();
    out_read_.reset();
    err_read_.reset();
    return ended_early ? -1 : exit_code;
}

}  // namespace dcu::test
