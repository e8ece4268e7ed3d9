#include "tests/support/run_program.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "common/unique_fd.hpp"
#include "tests/support/child_process.hpp"

namespace dcu::test {

namespace {

void make_pipe(UniqueFd &read_end, UniqueFd &write_end) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    read_end.reset(fds[0]);
    write_end.reset(fds[1]);
}

}  // namespace

RunResult run_program(const std::vector<std::string> &argv, const RunOptions &options) {
    ChildLaunch launch;
    launch.argv = exec_prefix();
    std::string peak_report;
    if (options.measure_peak_rss && launch.argv.empty()) {
        std::string report = (std::filesystem::temp_directory_path() / "dcu-peak-XXXXXX").string();
        const int fd = ::mkstemp(report.data());
        if (fd < 0) throw std::runtime_error("mkstemp failed");
        ::close(fd);
        peak_report = report;
        launch.argv = {DCU_PEAK_RSS_PATH, peak_report};
    }
    launch.argv.insert(launch.argv.end(), argv.begin(), argv.end());
    launch.env = environment_with(options.env, options.unset_env);
    launch.working_dir = options.working_dir;
    launch.max_file_size = options.max_file_size;

    UniqueFd in_read, in_write, out_read, out_write, err_read, err_write;
    make_pipe(in_read, in_write);
    make_pipe(out_read, out_write);
    make_pipe(err_read, err_write);
    launch.stdin_fd = in_read.get();
    launch.stdout_fd = out_write.get();
    launch.stderr_fd = err_write.get();

    ChildProcess child(launch);
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
            child.signal(SIGKILL);
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
    result.exit_code = child.wait();
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
