// What the handlers may open: only regular files, only inside the data tree
// once every link is followed, and never so that opening blocks.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "reqhandlers/data_tree.hpp"
#include "reqhandlers/regular_file.hpp"
#include "tests/support/temp_dir.hpp"

namespace {

namespace fs = std::filesystem;

// Runs fn in a child that SIGALRM ends after 10 s, so that a test of
// something that must not block can't hang; returns fn's result, or -1 when
// the child did not end by itself.
int within_bounded_time(const std::function<int()> &fn) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::alarm(10);
        ::_exit(fn());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A unit under DCU_ROOT with a data tree that holds files, links and files
// of every other kind.
class DataTree : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("DCU_ROOT", unit_.path().c_str(), 1);
        fs::create_directories(data_ / "meter_id_1");
        fs::create_directories(data_ / "meter_id_2");
        fs::create_directories(unit_ / "etc");
        dcu::test::write_file(data_ / "meter_id_2/billing", "code-1\nin\n");
        dcu::test::write_file(unit_ / "etc/passwd", "root\n");
        dcu::test::write_file(unit_ / "usr/tev/data/secret", "secret\n");
    }
    void TearDown() override { ::unsetenv("DCU_ROOT"); }

    // Makes a link in the data tree.
    void link(const std::string &target, const std::string &tree_path) const {
        fs::create_symlink(target, data_ / tree_path);
    }
    std::string host(const std::string &unit_path) const { return (unit_ / unit_path).string(); }

    dcu::test::TempDir unit_;
    const fs::path data_ = unit_ / "usr/tev/data/DlmsData";
};

TEST_F(DataTree, WhereLinksLead) {
    using dcu::data_tree::Place;
    link("../meter_id_2/billing", "meter_id_1/relative_in");
    link("/usr/tev/data/DlmsData/meter_id_2/billing", "meter_id_1/absolute_in");
    link("../meter_id_2", "meter_id_1/dir_in");
    link("/usr/tev/data/DlmsData/meter_id_2/./../meter_id_2", "meter_id_1/winding_in");
    link("/etc", "meter_id_1/etclink");
    link("../../../../../etc/passwd", "meter_id_1/relative_out");
    link("../../secret", "meter_id_1/up_out");
    link("/etc/passwd", "meter_id_1/absolute_out");
    link("/etc/none", "meter_id_1/dangling_out");
    link("gone", "meter_id_1/dangling_in");
    link("loop_b", "meter_id_1/loop_a");
    link("loop_a", "meter_id_1/loop_b");
    struct Case {
        const char *tree_path;
        Place place;
        std::string path;  // inside: what is opened
        int error;         // otherwise
    };
    const Case cases[] = {
        {"meter_id_2/billing", Place::inside, host("usr/tev/data/DlmsData/meter_id_2/billing"), 0},
        {"meter_id_1/relative_in", Place::inside, host("usr/tev/data/DlmsData/meter_id_2/billing"), 0},
        {"meter_id_1/absolute_in", Place::inside, host("usr/tev/data/DlmsData/meter_id_2/billing"), 0},
        {"meter_id_1/dir_in/billing", Place::inside, host("usr/tev/data/DlmsData/meter_id_2/billing"), 0},
        {"meter_id_1/winding_in/billing", Place::inside, host("usr/tev/data/DlmsData/meter_id_2/billing"), 0},
        {"meter_id_1/etclink/passwd", Place::outside, "", EXDEV},
        {"meter_id_1/etclink/none", Place::outside, "", EXDEV},
        {"meter_id_1/relative_out", Place::outside, "", EXDEV},
        {"meter_id_1/up_out", Place::outside, "", EXDEV},
        {"meter_id_1/absolute_out", Place::outside, "", EXDEV},
        {"meter_id_1/dangling_out", Place::outside, "", EXDEV},
        {"meter_id_1/../../secret", Place::outside, "", EXDEV},
        {"meter_id_1/dangling_in", Place::unresolved, "", ENOENT},
        {"meter_id_1/loop_a", Place::unresolved, "", ELOOP},
        {"meter_id_2/billing/x", Place::unresolved, "", ENOTDIR},
        {"meter_id_9/billing", Place::unresolved, "", ENOENT},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.tree_path);
        const auto resolution = dcu::data_tree::resolve(c.tree_path);
        EXPECT_EQ(resolution.place, c.place);
        EXPECT_EQ(resolution.path, c.path);
        EXPECT_EQ(resolution.error, c.error);
    }
}

TEST_F(DataTree, TheDataRootMayBeALink) {
    // The data on a file system of its own, the unit's path a link to it.
    const fs::path elsewhere = unit_ / "mnt/sd/data";
    fs::create_directories(elsewhere.parent_path());
    fs::rename(data_, elsewhere);
    fs::create_symlink("/mnt/sd/data", data_);
    fs::create_symlink("/usr/tev/data/DlmsData/meter_id_2/billing", elsewhere / "meter_id_1/absolute_in");
    fs::create_symlink("/mnt/sd/data/meter_id_2/billing", elsewhere / "meter_id_1/by_real_path");
    fs::create_symlink("/etc/passwd", elsewhere / "meter_id_1/absolute_out");
    using dcu::data_tree::Place;
    EXPECT_EQ(dcu::data_tree::resolve("meter_id_2/billing").path, host("mnt/sd/data/meter_id_2/billing"));
    EXPECT_EQ(dcu::data_tree::resolve("meter_id_1/absolute_in").place, Place::inside);
    EXPECT_EQ(dcu::data_tree::resolve("meter_id_1/by_real_path").place, Place::inside);
    EXPECT_EQ(dcu::data_tree::resolve("meter_id_1/absolute_out").place, Place::outside);
    const dcu::UniqueFd fd = dcu::data_tree::open_file("meter_id_1/absolute_in");
    ASSERT_TRUE(fd);
    char first[7] = {};
    EXPECT_EQ(::read(fd.get(), first, 6), 6);
    EXPECT_STREQ(first, "code-1");
}

TEST_F(DataTree, OnlyRegularFilesInsideAreOpenedAndNothingBlocks) {
    ASSERT_EQ(::mkfifo((data_ / "meter_id_1/fifo").c_str(), 0600), 0);
    link("fifo", "meter_id_1/fifo_link");
    // Read as the unit reads it: /dev/zero is outside the data tree.
    link("/dev/zero", "meter_id_1/zero");
    link("/etc/passwd", "meter_id_1/outside");
    const std::string socket_path = (data_ / "meter_id_1/socket").string();
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(socket_path.size(), sizeof address.sun_path);
    socket_path.copy(address.sun_path, socket_path.size());
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    struct Case {
        const char *tree_path;
        int error;
    };
    const Case cases[] = {
        {"meter_id_1/fifo", ENOTSUP}, {"meter_id_1/fifo_link", ENOTSUP}, {"meter_id_1/zero", EXDEV},
        {"meter_id_1/socket", ENOTSUP}, {"meter_id_1", EISDIR},          {"meter_id_1/outside", EXDEV},
        {"meter_id_1/none", ENOENT},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.tree_path);
        EXPECT_EQ(within_bounded_time([&] {
                      errno = 0;
                      const bool opened = static_cast<bool>(dcu::data_tree::open_file(c.tree_path));
                      return opened ? 100 : errno;
                  }),
                  c.error);
    }
    // The same refusals for a file named by its path (selection files), where
    // a FIFO's open would otherwise wait for a writer.
    const struct {
        std::string path;
        int error;
    } named[] = {
        {host("usr/tev/data/DlmsData/meter_id_1/fifo"), ENOTSUP},
        {"/dev/zero", ENOTSUP},
        {host("usr/tev/data/DlmsData/meter_id_1"), EISDIR},
        {host("etc/passwd"), 0},
    };
    for (const auto &n : named) {
        SCOPED_TRACE(n.path);
        EXPECT_EQ(within_bounded_time([&] {
                      errno = 0;
                      return dcu::regular_file::open(n.path) ? 0 : errno;
                  }),
                  n.error);
    }
    ::close(listener);
    EXPECT_EQ(within_bounded_time([] { return dcu::data_tree::open_directory("meter_id_1/fifo") ? 0 : errno; }),
              ENOTDIR);
    EXPECT_EQ(within_bounded_time([] { return dcu::data_tree::open_directory("meter_id_2") ? 0 : errno; }), 0);
}

}  // namespace
