// The one launcher of the tests' child processes: what each suite relies on
// to leave nothing running behind it, and the environment it hands on.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

#include "common/unique_fd.hpp"
#include "tests/support/child_process.hpp"
#include "tests/support/temp_dir.hpp"

namespace {

using dcu::test::ChildProcess;
using dcu::test::ChildLaunch;
using namespace std::chrono_literals;

ChildLaunch shell(const std::string &script) {
    ChildLaunch launch;
    launch.argv = {"sh", "-c", script};
    return launch;
}

// A shell that says "ready" once its traps are set, started and heard.
ChildProcess ready_shell(const std::string &traps, const std::string &then) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    const dcu::UniqueFd read_end(fds[0]);
    dcu::UniqueFd write_end(fds[1]);
    ChildLaunch launch = shell(traps + "; echo ready; " + then);
    launch.stdout_fd = write_end.get();
    ChildProcess child(launch);
    write_end.reset();
    char said[8] = {};
    pollfd wait{read_end.get(), POLLIN, 0};
    if (::poll(&wait, 1, 10000) != 1 || ::read(read_end.get(), said, sizeof said - 1) <= 0)
        throw std::runtime_error("the shell said nothing");
    return child;
}

// Whether a process of that PID is still there (not even a zombie).
bool exists(pid_t pid) { return ::kill(pid, 0) == 0; }

TEST(ChildProcess, OneStillRunningIsKilledAndReapedWhenItGoes) {
    pid_t pid = -1;
    {
        ChildProcess child(shell("exec sleep 60"));
        pid = child.pid();
        ASSERT_GT(pid, 0);
        EXPECT_FALSE(child.poll());
    }
    EXPECT_FALSE(exists(pid));
}

TEST(ChildProcess, ExitCodesAsAShellReportsThem) {
    ChildProcess exits(shell("exit 3"));
    EXPECT_EQ(exits.wait(), 3);
    EXPECT_EQ(exits.wait(), 3) << "asked again once reaped";
    EXPECT_FALSE(exits.running());

    ChildLaunch missing_launch;
    missing_launch.argv = {"dcu-no-such-program"};
    ChildProcess missing(missing_launch);
    EXPECT_EQ(missing.wait(), 127);

    // A child that ignores the stop is killed at the deadline.
    ChildProcess stubborn = ready_shell("trap '' TERM", "exec sleep 60");
    EXPECT_EQ(stubborn.stop(SIGTERM, 200ms), 128 + SIGKILL);
}

TEST(ChildProcess, ItsStarterEndingSendsItSigterm) {
    dcu::test::TempDir dir;
    const auto mark = dir / "terminated";
    pid_t pid = -1;
    std::optional<ChildProcess> child;
    // Started by a thread that then ends, as when a test dies.
    std::thread([&] {
        child.emplace(ready_shell("trap 'echo > " + mark.string() + "; exit 0' TERM", "while :; do sleep 0.05; done"));
        pid = child->pid();
    }).join();
    ASSERT_GT(pid, 0);
    EXPECT_EQ(child->wait(10s), 0) << "SIGTERM, caught by the child's trap";
    EXPECT_TRUE(std::filesystem::exists(mark));
}

TEST(ChildProcess, EnvironmentTakesOutNamesAndPrefixes) {
    ::setenv("DCU_CHILD_TEST_KEPT", "kept", 1);
    ::setenv("DCU_CHILD_TEST_GONE", "gone", 1);
    ::setenv("DCU_CHILD_PREFIXED_A", "a", 1);
    ::setenv("DCU_CHILD_PREFIXED_B", "b", 1);
    const auto env = dcu::test::environment_with({{"DCU_CHILD_TEST_KEPT", "replaced"}, {"DCU_CHILD_NEW", "new"}},
                                                 {"DCU_CHILD_TEST_GONE", "DCU_CHILD_PREFIXED_*"});
    std::string seen;
    for (const auto &entry : env)
        if (entry.starts_with("DCU_CHILD_")) seen += entry + "\n";
    EXPECT_EQ(seen, "DCU_CHILD_NEW=new\nDCU_CHILD_TEST_KEPT=replaced\n");
    for (const char *name :
         {"DCU_CHILD_TEST_KEPT", "DCU_CHILD_TEST_GONE", "DCU_CHILD_PREFIXED_A", "DCU_CHILD_PREFIXED_B"})
        ::unsetenv(name);
}

}  // namespace
