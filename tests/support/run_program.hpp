// Runs a program of the project as a test would run it from a shell: its
// arguments, extra environment, optional standard input; captures standard
// output, standard error and the exit status. DCU_TEST_EXEC_PREFIX (for
// example "valgrind --error-exitcode=99 -q") is put in front of the command,
// so the same cases run under a checker or an emulator.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/child_process.hpp"

namespace dcu::test {

struct RunResult {
    std::string out;
    std::string err;
    int exit_code = -1;  // exit status, or 128 + signal number
    long peak_rss_kb = 0;  // with measure_peak_rss: the program's own peak resident size (VmHWM), in kB
};

struct RunOptions {
    std::map<std::string, std::string> env;  // added to (or replacing in) the test's environment
    std::vector<std::string> unset_env;
    std::string stdin_text;
    // When set, standard input goes on after stdin_text with the pieces it
    // gives, asked for as the child takes them (an empty piece ends it), so
    // an input of any size costs the test no memory. A piece stays valid
    // until the next call.
    std::function<std::string_view()> stdin_pieces;
    std::string working_dir;  // empty: the test's own
    std::chrono::milliseconds timeout{60000};
    // RLIMIT_FSIZE of the child, in bytes: a write past it fails as on a
    // full disk (the program sees SIGXFSZ, or EFBIG when it ignores that).
    std::optional<std::uint64_t> max_file_size;
    // Runs the program under a small process that reports its peak resident
    // size (a child's ru_maxrss would count the test's own size). Not with
    // DCU_TEST_EXEC_PREFIX: the figure would be the checker's or emulator's.
    bool measure_peak_rss = false;
};

RunResult run_program(const std::vector<std::string> &argv, const RunOptions &options = {});

}  // namespace dcu::test
