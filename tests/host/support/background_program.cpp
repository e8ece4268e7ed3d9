#include "tests/host/support/background_program.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <thread>

#include "tests/support/run_program.hpp"

extern char **environ;

namespace dcu::test {

namespace {

std::size_t count_of(std::string_view text, std::string_view needle) {
    std::size_t count = 0;
    for (auto at = text.find(needle); at != std::string_view::npos; at = text.find(needle, at + needle.size())) ++count;
    return count;
}

int status_of(int wait_status) {
    if (WIFEXITED(wait_status)) return WEXITSTATUS(wait_status);
    if (WIFSIGNALED(wait_status)) return 128 + WTERMSIG(wait_status);
    return -1;
}

}  // namespace

BackgroundProgram::BackgroundProgram(const std::vector<std::string> &argv,
                                     const std::map<std::string, std::string> &env) {
    std::vector<std::string> command = exec_prefix();
    command.insert(command.end(), argv.begin(), argv.end());
    std::vector<std::string> env_strings;
    for (char **entry = environ; *entry != nullptr; ++entry) {
        const std::string item(*entry);
        if (env.count(item.substr(0, item.find('='))) == 0) env_strings.push_back(item);
    }
    for (const auto &[name, value] : env) env_strings.push_back(name + "=" + value);
    std::vector<char *> c_argv, c_env;
    for (auto &word : command) c_argv.push_back(word.data());
    c_argv.push_back(nullptr);
    for (auto &item : env_strings) c_env.push_back(item.data());
    c_env.push_back(nullptr);
    const std::string out_path = (dir_ / "out").string(), err_path = (dir_ / "err").string();

    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        // A program must not outlive a test or benchmark that dies.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) ::_exit(126);
        const int in_fd = ::open("/dev/null", O_RDONLY);
        const int out_fd = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err_fd = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in_fd < 0 || out_fd < 0 || err_fd < 0) ::_exit(126);
        ::dup2(in_fd, STDIN_FILENO);
        ::dup2(out_fd, STDOUT_FILENO);
        ::dup2(err_fd, STDERR_FILENO);
        ::execvpe(c_argv[0], c_argv.data(), c_env.data());
        ::_exit(127);
    }
}

BackgroundProgram::~BackgroundProgram() {
    if (pid_ > 0) stop(SIGKILL);
}

std::string BackgroundProgram::out() const {
    try {
        return read_file(dir_ / "out");
    } catch (const std::exception &) {
        return {};
    }
}

std::string BackgroundProgram::err() const {
    try {
        return read_file(dir_ / "err");
    } catch (const std::exception &) {
        return {};
    }
}

bool BackgroundProgram::wait_for_err(std::string_view text, int times, std::chrono::milliseconds within) const {
    const auto deadline = std::chrono::steady_clock::now() + within;
    for (;;) {
        if (count_of(err(), text) >= static_cast<std::size_t>(times)) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void BackgroundProgram::signal(int signal_number) const {
    if (pid_ > 0) ::kill(pid_, signal_number);
}

int BackgroundProgram::stop(int signal_number) {
    signal(signal_number);
    return wait();
}

int BackgroundProgram::wait(std::chrono::milliseconds within) {
    if (pid_ > 0) {
        const auto deadline = std::chrono::steady_clock::now() + within;
        int wait_status = 0;
        while (::waitpid(pid_, &wait_status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() >= deadline) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &wait_status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        exit_status_ = status_of(wait_status);
        pid_ = -1;
    }
    return exit_status_;
}

}  // namespace dcu::test
