// The serial port layer in-process (the ttysink build), on socat
// pseudo-terminals placed where /dev/ttyS0 and /dev/ttyS1 would be.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <regex>
#include <string>

#include "tests/support/temp_dir.hpp"
#include "tests/tools/serial/pty_pair.hpp"
#include "tools/serial/serialIO.hpp"

namespace dcu::serial {
namespace {

// Whatever the layer prints to standard output between construction and take().
class StdoutCapture {
public:
    StdoutCapture() {
        std::fflush(stdout);
        saved_ = ::dup(STDOUT_FILENO);
        file_ = std::tmpfile();
        ::dup2(::fileno(file_), STDOUT_FILENO);
    }
    StdoutCapture(const StdoutCapture &) = delete;
    StdoutCapture &operator=(const StdoutCapture &) = delete;
    ~StdoutCapture() { restore(); }

    std::string take() {
        restore();
        std::string text;
        std::rewind(file_);
        for (int c; (c = std::fgetc(file_)) != EOF;) text.push_back(static_cast<char>(c));
        return text;
    }

private:
    void restore() {
        if (saved_ < 0) return;
        std::fflush(stdout);
        ::dup2(saved_, STDOUT_FILENO);
        ::close(saved_);
        saved_ = -1;
    }
    int saved_ = -1;
    std::FILE *file_ = nullptr;
};

const std::string kSetUp9600 =
    "Baud idx 10\n"
    "End params Baud 13 FlowCtrl 0 0 DataBits 48 Parity 0 StopBits 0\n"
    "After getting serial port cfg params\n";

class SerialLayer : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("DCU_ROOT", root_.path().c_str(), 1);
        baud = kDefaultBaud;
    }
    void TearDown() override {
        closeSerialPort();
        ::unsetenv("DCU_ROOT");
    }
    std::string device(int port) const { return (root_ / "dev/ttyS").string() + std::to_string(port); }

    test::TempDir root_;
};

TEST_F(SerialLayer, ReadsOneWaitingByteAtATimeAndNeverBlocks) {
    test::PtyPair line(device(0), device(1));
    UniqueFd far_end = test::open_line_end(device(1));

    StdoutCapture set_up;
    ASSERT_EQ(initSerialIO(0), 0);
    EXPECT_EQ(set_up.take(), kSetUp9600 + "Initialising port " + device(0) +
                                 "\ncflag 8bd ciflag 4 oflag 0 lflag 0\nEnd\n");
    ASSERT_GE(serialFd, 0);

    StdoutCapture reads;
    char byte[2] = {'?', '?'};
    EXPECT_EQ(readSerialPort(byte), -1) << "nothing waits";

    ASSERT_EQ(::write(far_end.get(), "hello", 5), 5);
    ASSERT_TRUE(test::wait_until_queued(serialFd, 5));
    std::string received;
    for (int call = 0; call < 5; ++call) {
        byte[1] = '?';
        EXPECT_EQ(readSerialPort(byte), 1);
        EXPECT_EQ(byte[1], '?') << "only the first place of the buffer is written";
        received.push_back(byte[0]);
    }
    EXPECT_EQ(received, "hello");
    EXPECT_EQ(readSerialPort(byte), -1) << "the queue is empty again";
    EXPECT_EQ(reads.take(), "") << "an empty queue is no failure message";

    StdoutCapture writes;
    EXPECT_EQ(writeSerialPort("xyz", 3), 0);
    EXPECT_EQ(test::read_bytes(far_end.get(), 3), "xyz");
    EXPECT_EQ(writes.take(), "");
}

TEST_F(SerialLayer, SpeedIndexOutsideTheTableSelects9600) {
    for (int index : {-1, 16, 1000}) {
        baud = index;
        StdoutCapture output;
        getSerialPortCfgParms();
        EXPECT_EQ(baudRate, B9600) << index;
        EXPECT_EQ(output.take(), "Baud idx " + std::to_string(index) +
                                     "\nEnd params Baud 13 FlowCtrl 0 0 DataBits 48 Parity 0 StopBits 0\n");
    }
}

TEST_F(SerialLayer, FailedOpenLeavesNoPortAndLaterCallsReportTheBadDescriptor) {
    StdoutCapture output;
    EXPECT_EQ(initSerialIO(0), -1);
    EXPECT_EQ(serialFd, -1);
    char byte = 0;
    EXPECT_EQ(writeSerialPort("a", 1), -1);
    EXPECT_EQ(readSerialPort(&byte), -1);
    const std::string text = output.take();

    const std::string set_up =
        kSetUp9600 + "Initialising port " + device(0) + "\nserial port open() failed  No such file or directory\n";
    ASSERT_EQ(text.substr(0, set_up.size()), set_up);
    EXPECT_TRUE(std::regex_match(text.substr(set_up.size()),
                                 std::regex("serialIO\\.cpp:[0-9]+:writeSerialPort\\(\\): Writing message to serial "
                                            "port failed = Bad file descriptor\n"
                                            "ioctl failed - Bad file descriptor\n")))
        << text;
}

TEST_F(SerialLayer, PortThatIsNoTerminalStaysOpenUnconfigured) {
    std::filesystem::create_directories(root_ / "dev");
    std::filesystem::create_symlink("/dev/null", device(0));

    StdoutCapture output;
    EXPECT_EQ(initSerialIO(0), -1);
    EXPECT_EQ(output.take(), kSetUp9600 + "Initialising port " + device(0) +
                                 "\ncflag 8bd ciflag 4 oflag 0 lflag 0\n"
                                 " serial port tcsetaddtr() failed - Inappropriate ioctl for device\n");
    ASSERT_GE(serialFd, 0);
    EXPECT_NE(::fcntl(serialFd, F_GETFD), -1) << "the descriptor is still open";
}

TEST_F(SerialLayer, OpeningAgainClosesThePortOpenedBefore) {
    test::PtyPair line(device(0), device(1));
    StdoutCapture quiet;
    ASSERT_EQ(initSerialIO(0), 0);
    const int first = serialFd;
    ASSERT_EQ(initSerialIO(1), 0);
    EXPECT_NE(serialFd, first);
    errno = 0;
    EXPECT_EQ(::fcntl(first, F_GETFD), -1);
    EXPECT_EQ(errno, EBADF);

    closeSerialPort();
    EXPECT_EQ(serialFd, -1);
}

}  // namespace
}  // namespace dcu::serial
