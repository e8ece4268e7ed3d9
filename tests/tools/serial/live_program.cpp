#include "tests/tools/serial/live_program.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <stdexcept>

#include "tests/support/run_program.hpp"

extern char **environ;

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

std::vector<std::string> environment_with(const std::map<std::string, std::string> &overrides) {
    std::vector<std::string> entries;
    for (char **entry = environ; *entry != nullptr; ++entry) {
        std::string item(*entry);
        if (overrides.count(item.substr(0, item.find('='))) == 0) entries.push_back(item);
    }
    for (const auto &[name, value] : overrides) entries.push_back(name + "=" + value);
    return entries;
}

}  // namespace

LiveProgram::LiveProgram(const std::vector<std::string> &argv, const std::map<std::string, std::string> &env,
                         const std::vector<int> &ignored_signals) {
    std::vector<std::string> command = exec_prefix();
    command.insert(command.end(), argv.begin(), argv.end());
    std::vector<std::string> env_strings = environment_with(env);
    std::vector<char *> c_argv;
    for (auto &word : command) c_argv.push_back(word.data());
    c_argv.push_back(nullptr);
    std::vector<char *> c_env;
    for (auto &item : env_strings) c_env.push_back(item.data());
    c_env.push_back(nullptr);

    UniqueFd out_write;
    open_raw_pty(out_read_, out_write);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    err_read_.reset(fds[0]);
    UniqueFd err_write(fds[1]);

    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        int null_fd = ::open("/dev/null", O_RDONLY);
        ::dup2(null_fd, STDIN_FILENO);
        ::dup2(out_write.get(), STDOUT_FILENO);
        ::dup2(err_write.get(), STDERR_FILENO);
        sigset_t stop_signals;
        sigemptyset(&stop_signals);
        for (int stop_signal : {SIGINT, SIGTERM, SIGHUP}) {
            ::signal(stop_signal, SIG_DFL);
            sigaddset(&stop_signals, stop_signal);
        }
        ::sigprocmask(SIG_UNBLOCK, &stop_signals, nullptr);
        for (int ignored : ignored_signals) ::signal(ignored, SIG_IGN);
        ::execvpe(c_argv[0], c_argv.data(), c_env.data());
        ::_exit(127);
    }
}

LiveProgram::~LiveProgram() {
    if (pid_ > 0) stop();
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

void LiveProgram::send(int signal) const {
    if (pid_ > 0) ::kill(pid_, signal);
}

int LiveProgram::stop(int signal) {
    if (pid_ <= 0) return -1;
    int status = 0;
    const bool ended_early = ::waitpid(pid_, &status, WNOHANG) == pid_;
    if (!ended_early) ::kill(pid_, signal);
    const auto deadline = Clock::now() + kSerialDeadline;
    while (Clock::now() < deadline && pump(100)) {
    }
    if (!ended_early) {
        if (out_read_ || err_read_) ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
    }
    pid_ = -1;
    out_read_.reset();
    err_read_.reset();
    if (ended_early) return -1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

}  // namespace dcu::test
