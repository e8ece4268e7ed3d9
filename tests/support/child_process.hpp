// The child processes of the tests, all started one way: our programs (with
// DCU_TEST_EXEC_PREFIX in front, so that the same cases run under valgrind
// or qemu-arm) and the servers and helpers they talk to (redis-server,
// mosquitto, RabbitMQ and its epmd, socat).
//
// A child gets SIGTERM should the thread that started it end first (the
// test died), so that nothing outlives a crashed suite; a ChildProcess
// that goes out of scope with its child still running kills it (SIGKILL)
// and reaps it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace dcu::test {

// The words of DCU_TEST_EXEC_PREFIX, split at blanks.
std::vector<std::string> exec_prefix();

// A program of the project as the tests run it: the exec prefix, then argv.
std::vector<std::string> with_exec_prefix(const std::vector<std::string> &argv);

// The test's environment with `set` put in (in place of the names it has)
// and the names in `unset` taken out; a name ending with '*' takes out every
// name that starts with what comes before it.
std::vector<std::string> environment_with(const std::map<std::string, std::string> &set,
                                          const std::vector<std::string> &unset = {});

struct ChildLaunch {
    std::vector<std::string> argv;  // argv[0] is looked for on PATH
    std::string fallback_path;      // tried when argv[0] is not found on PATH
    std::optional<std::vector<std::string>> env;  // "NAME=value" entries; none: the test's own
    // The test's descriptors that become the child's standard input, output
    // and error (the same one may serve twice); -1: /dev/null.
    int stdin_fd = -1;
    int stdout_fd = -1;
    int stderr_fd = -1;
    std::string working_dir;  // empty: the test's own
    // RLIMIT_FSIZE, in bytes: a write past it fails as on a full disk.
    std::optional<std::uint64_t> max_file_size;
    // Back to their default action and unblocked, whatever the test has
    // done with them; then these ignored (as under nohup).
    std::vector<int> default_signals;
    std::vector<int> ignored_signals;
};

// Exit statuses as a shell reports them: the status, or 128 + the signal.
int exit_code_of(int wait_status);

class ChildProcess {
public:
    ChildProcess() = default;
    // Forks and execs; throws std::runtime_error when it can't fork. A child
    // that can't exec ends with 127; one whose set-up fails (working
    // directory, file size limit, its parent gone already) with 126.
    explicit ChildProcess(const ChildLaunch &launch);
    ChildProcess(ChildProcess &&other) noexcept;
    ChildProcess &operator=(ChildProcess &&other) noexcept;
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;
    ~ChildProcess();

    // Started and not reaped yet.
    bool running() const noexcept { return pid_ > 0; }
    pid_t pid() const noexcept { return pid_; }
    // Sends a signal to a child not reaped yet.
    void signal(int signal_number) const noexcept;
    // Its exit code once it has ended (reaping it), nothing while it runs.
    std::optional<int> poll() noexcept;
    // Waits for it to end: its exit code (again, when reaped before).
    int wait() noexcept;
    // Waits at most `within`, then kills it (SIGKILL) and reaps it.
    int wait(std::chrono::milliseconds within) noexcept;
    // signal(), then wait(within).
    int stop(int signal_number, std::chrono::milliseconds within) noexcept;

private:
    void reap(int wait_status) noexcept;
    void kill_and_reap() noexcept;

    pid_t pid_ = -1;
    int exit_code_ = -1;
};

}  // namespace dcu::test
