#include "tests/support/child_process.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <thread>
#include <utility>

extern char **environ;

namespace dcu::test {

namespace {

using Clock = std::chrono::steady_clock;

std::vector<char *> pointers_to(std::vector<std::string> &words) {
    std::vector<char *> pointers;
    for (auto &word : words) pointers.push_back(word.data());
    pointers.push_back(nullptr);
    return pointers;
}

bool is_taken_out(std::string_view name, const std::vector<std::string> &unset) {
    for (const std::string_view pattern : unset) {
        if (pattern.ends_with('*') ? name.starts_with(pattern.substr(0, pattern.size() - 1)) : name == pattern)
            return true;
    }
    return false;
}

// In the child, between fork and exec: system calls only.
[[noreturn]] void become(const ChildLaunch &launch, pid_t parent, char *const *argv, char *const *env) {
    // Nothing may outlive a test or benchmark that dies.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(126);
    const int streams[] = {launch.stdin_fd, launch.stdout_fd, launch.stderr_fd};
    for (int target = 0; target < 3; ++target) {
        int fd = streams[target];
        if (fd < 0) fd = ::open("/dev/null", target == 0 ? O_RDONLY : O_WRONLY);
        if (fd < 0 || ::dup2(fd, target) < 0) ::_exit(126);
    }
    if (!launch.working_dir.empty() && ::chdir(launch.working_dir.c_str()) != 0) ::_exit(126);
    if (launch.max_file_size) {
        const rlimit limit{static_cast<rlim_t>(*launch.max_file_size), static_cast<rlim_t>(*launch.max_file_size)};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(126);
    }
    if (!launch.default_signals.empty()) {
        sigset_t unblocked;
        sigemptyset(&unblocked);
        for (const int signal_number : launch.default_signals) {
            ::signal(signal_number, SIG_DFL);
            sigaddset(&unblocked, signal_number);
        }
        ::sigprocmask(SIG_UNBLOCK, &unblocked, nullptr);
    }
    for (const int signal_number : launch.ignored_signals) ::signal(signal_number, SIG_IGN);
    ::execvpe(argv[0], argv, env);
    if (!launch.fallback_path.empty() && errno == ENOENT) ::execve(launch.fallback_path.c_str(), argv, env);
    ::_exit(127);
}

}  // namespace

std::vector<std::string> exec_prefix() {
    std::vector<std::string> words;
    if (const char *prefix = std::getenv("DCU_TEST_EXEC_PREFIX")) {
        std::istringstream in(prefix);
        for (std::string word; in >> word;) words.push_back(word);
    }
    return words;
}

std::vector<std::string> with_exec_prefix(const std::vector<std::string> &argv) {
    std::vector<std::string> command = exec_prefix();
    command.insert(command.end(), argv.begin(), argv.end());
    return command;
}

std::vector<std::string> environment_with(const std::map<std::string, std::string> &set,
                                          const std::vector<std::string> &unset) {
    std::vector<std::string> entries;
    for (char **entry = environ; *entry != nullptr; ++entry) {
        const std::string_view item(*entry);
        const std::string name(item.substr(0, item.find('=')));
        if (set.count(name) == 0 && !is_taken_out(name, unset)) entries.emplace_back(item);
    }
    for (const auto &[name, value] : set) entries.push_back(name + "=" + value);
    return entries;
}

int exit_code_of(int wait_status) {
    if (WIFEXITED(wait_status)) return WEXITSTATUS(wait_status);
    if (WIFSIGNALED(wait_status)) return 128 + WTERMSIG(wait_status);
    return -1;
}

ChildProcess::ChildProcess(const ChildLaunch &launch) {
    if (launch.argv.empty()) throw std::invalid_argument("a child process needs a program");
    std::vector<std::string> words = launch.argv;
    std::vector<std::string> env_entries = launch.env.value_or(std::vector<std::string>{});
    const std::vector<char *> argv = pointers_to(words);
    const std::vector<char *> own_env = pointers_to(env_entries);
    char *const *env = launch.env ? own_env.data() : environ;

    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) become(launch, parent, argv.data(), env);
}

ChildProcess::ChildProcess(ChildProcess &&other) noexcept
    : pid_(std::exchange(other.pid_, -1)), exit_code_(other.exit_code_) {}

ChildProcess &ChildProcess::operator=(ChildProcess &&other) noexcept {
    if (this != &other) {
        kill_and_reap();
        pid_ = std::exchange(other.pid_, -1);
        exit_code_ = other.exit_code_;
    }
    return *this;
}

ChildProcess::~ChildProcess() { kill_and_reap(); }

void ChildProcess::signal(int signal_number) const noexcept {
    if (pid_ > 0) ::kill(pid_, signal_number);
}

void ChildProcess::reap(int wait_status) noexcept {
    exit_code_ = exit_code_of(wait_status);
    pid_ = -1;
}

std::optional<int> ChildProcess::poll() noexcept {
    if (pid_ <= 0) return exit_code_;
    int wait_status = 0;
    if (::waitpid(pid_, &wait_status, WNOHANG) != pid_) return std::nullopt;
    reap(wait_status);
    return exit_code_;
}

int ChildProcess::wait() noexcept {
    if (pid_ <= 0) return exit_code_;
    int wait_status = 0;
    while (::waitpid(pid_, &wait_status, 0) < 0) {
        if (errno != EINTR) {
            pid_ = -1;
            return exit_code_ = -1;
        }
    }
    reap(wait_status);
    return exit_code_;
}

int ChildProcess::wait(std::chrono::milliseconds within) noexcept {
    const auto deadline = Clock::now() + within;
    while (!poll()) {
        if (Clock::now() >= deadline) {
            signal(SIGKILL);
            return wait();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return exit_code_;
}

int ChildProcess::stop(int signal_number, std::chrono::milliseconds within) noexcept {
    signal(signal_number);
    return wait(within);
}

void ChildProcess::kill_and_reap() noexcept {
    if (pid_ <= 0) return;
    signal(SIGKILL);
    wait();
}

}  // namespace dcu::test
