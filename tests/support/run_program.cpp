#include "tests/support/run_program.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <stdexcept>

#include "common/unique_fd.hpp"

extern char **environ;

namespace dcu::test {

std::vector<std::string> exec_prefix() {
    std::vector<std::string> words;
    if (const char *prefix = std::getenv("DCU_TEST_EXEC_PREFIX")) {
        std::istringstream in(prefix);
        for (std::string word; in >> word;) words.push_back(word);
    }
    return words;
}

namespace {

void make_pipe(UniqueFd &read_end, UniqueFd &write_end) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    read_end.reset(fds[0]);
    write_end.reset(fds[1]);
}

}  // namespace

RunResult run_program(const std::vector<std::string> &argv, const RunOptions &options) {
    std::vector<std::string> command = exec_prefix();
    std::string peak_report;
    if (options.measure_peak_rss && command.empty()) {
        std::string report = (std::filesystem::temp_directory_path() / "dcu-peak-XXXXXX").string();
        const int fd = ::mkstemp(report.data());
        if (fd < 0) throw std::runtime_error("mkstemp failed");
        ::close(fd);
        peak_report = report;
        command = {DCU_PEAK_RSS_PATH, peak_report};
    }
    command.insert(command.end(), argv.begin(), argv.end());

    std::vector<std::string> env_strings;
    for (char **entry = environ; *entry != nullptr; ++entry) {
        std::string item(*entry);
        std::string name = item.substr(0, item.find('='));
        bool dropped = options.env.count(name) != 0;
        for (const auto &unset : options.unset_env) dropped = dropped || unset == name;
        if (!dropped) env_strings.push_back(item);
    }
    for (const auto &[name, value] : options.env) env_strings.push_back(name + "=" + value);

    std::vector<char *> c_argv;
    for (auto &word : command) c_argv.push_back(word.data());
    c_argv.push_back(nullptr);
    std::vector<char *> c_env;
    for (auto &item : env_strings) c_env.push_back(item.data());
    c_env.push_back(nullptr);

    UniqueFd in_read, in_write, out_read, out_write, err_read, err_write;
    make_pipe(in_read, in_write);
    make_pipe(out_read, out_write);
    make_pipe(err_read, err_write);

    pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        ::dup2(in_read.get(), STDIN_FILENO);
        ::dup2(out_write.get(), STDOUT_FILENO);
        ::dup2(err_write.get(), STDERR_FILENO);
        if (!options.working_dir.empty() && ::chdir(options.working_dir.c_str()) != 0) ::_exit(126);
        if (options.max_file_size) {
            const rlimit limit{static_cast<rlim_t>(*options.max_file_size), static_cast<rlim_t>(*options.max_file_size)};
            if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(126);
        }
        ::execvpe(c_argv[0], c_argv.data(), c_env.data());
        ::_exit(127);
    }
    in_read.reset();
    out_write.reset();
    err_write.reset();

    ::signal(SIGPIPE, SIG_IGN);
    // Writes to the child never block: a child that is itself blocked writing
    // its output would otherwise wait for us while we wait for it.
    ::fcntl(in_write.get(), F_SETFL, ::fcntl(in_write.get(), F_GETFL) | O_NONBLOCK);
    // What is left to write of the current piece of standard input.
    std::string_view input = options.stdin_text;
    auto next_piece = [&] {
        if (options.stdin_pieces && input.empty()) input = options.stdin_pieces();
        if (input.empty()) in_write.reset();
    };
    next_piece();

    RunResult result;
    const auto deadline = std::chrono::steady_clock::now() + options.timeout;
    while (out_read || err_read) {
        std::vector<pollfd> fds;
        if (out_read) fds.push_back({out_read.get(), POLLIN, 0});
        if (err_read) fds.push_back({err_read.get(), POLLIN, 0});
        if (in_write) fds.push_back({in_write.get(), POLLOUT, 0});
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            ::kill(pid, SIGKILL);
            break;
        }
        if (::poll(fds.data(), fds.size(), static_cast<int>(left.count())) < 0) continue;
        for (const auto &fd : fds) {
            if (fd.revents == 0) continue;
            if (in_write && fd.fd == in_write.get()) {
                ssize_t n = ::write(in_write.get(), input.data(), input.size());
                if (n > 0) input.remove_prefix(static_cast<size_t>(n));
                if (n < 0 && errno != EAGAIN) in_write.reset();
                else next_piece();
                continue;
            }
            char buffer[65536];
            ssize_t n = ::read(fd.fd, buffer, sizeof buffer);
            bool is_out = out_read && fd.fd == out_read.get();
            if (n <= 0) {
                (is_out ? out_read : err_read).reset();
            } else {
                (is_out ? result.out : result.err).append(buffer, static_cast<size_t>(n));
            }
        }
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
    else if (WIFSIGNALED(status)) result.exit_code = 128 + WTERMSIG(status);
    if (!peak_report.empty()) {
        if (std::FILE *report = std::fopen(peak_report.c_str(), "r")) {
            if (std::fscanf(report, "%ld", &result.peak_rss_kb) != 1) result.peak_rss_kb = 0;
            std::fclose(report);
        }
        std::remove(peak_report.c_str());
    }
    return result;
}

}  // namespace dcu::test
