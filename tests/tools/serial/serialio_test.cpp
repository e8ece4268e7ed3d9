// The serial port layer in-process, set up as each program sets it up (the
// probe and stream builds of ttyblast, ttysink), on socat pseudo-terminals
// placed where /dev/ttyS0 and /dev/ttyS1 would be.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <regex>
#include <string>

#include "tests/support/run_program.hpp"
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
    ~StdoutCapture() {
        restore();
        std::fclose(file_);
    }

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

// The descriptors of this process open on a device, found in /proc/self/fd,
// so a closed port counts 0 even when a later open reuses its number.
int descriptors_open_on(const std::filesystem::path &device) {
    const std::filesystem::path target = std::filesystem::canonical(device);
    int count = 0;
    for (const auto &entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (std::filesystem::read_symlink(entry.path(), error) == target) ++count;
    }
    return count;
}

class SerialLayer : public ::testing::Test {
protected:
    void SetUp() override { ::setenv("DCU_ROOT", root_.path().c_str(), 1); }
    void TearDown() override { ::unsetenv("DCU_ROOT"); }
    std::filesystem::path device(int port) const { return root_ / ("dev/ttyS" + std::to_string(port)); }
    // Expected texts name the device of port 0 as "{dev}".
    std::string with_device(std::string text) const {
        const std::string key = "{dev}";
        for (auto at = text.find(key); at != std::string::npos; at = text.find(key)) {
            text.replace(at, key.size(), device(0).string());
        }
        return text;
    }

    test::TempDir root_;
};

// ---------------------------------------------------------------------------
// Each program's port on a live line: what its set-up prints, that input
// waiting before the set-up is thrown away, and what its loop prints and
// puts on the line.

enum class Loop { Receive, Send };

struct BuildCase {
    const char *name;
    PortOptions options;
    std::string set_up;  // everything initSerialIO prints
    Loop loop;
    std::string far_end_sends;  // before the receive passes, one pass per byte
    int send_cycles;            // the send loop's passes
    std::string printed;        // by the loop passes
    std::string far_end_gets;   // from the loop passes
};

void PrintTo(const BuildCase &test, std::ostream *out) { *out << test.name; }

const std::string kCycle = "\r\n0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmonpqrstuvwxyz~!@#$%^\n\r";
const std::string kAwkwardBytes = std::string("hi\0\r\n\xff", 6);

class BuildOnTheLine : public SerialLayer, public ::testing::WithParamInterface<BuildCase> {};

TEST_P(BuildOnTheLine, SetsUpDiscardsStaleInputAndRunsItsLoop) {
    const BuildCase &run = GetParam();
    test::PtyPair line(device(0), device(1));
    UniqueFd far_end = test::open_line_end(device(1));
    ASSERT_EQ(::write(far_end.get(), "stale", 5), 5);

    SerialPort port(run.options);
    {
        UniqueFd early = test::open_line_end(device(0));
        ASSERT_TRUE(test::wait_until_queued(early.get(), 5)) << "the stale input waits at the port";
    }
    StdoutCapture set_up;
    ASSERT_EQ(port.initSerialIO(0), SetUp::Ready);
    EXPECT_EQ(set_up.take(), with_device(run.set_up));
    EXPECT_EQ(test::queued_bytes(port.serialFd()), 0) << "input from before the set-up is thrown away";

    StdoutCapture loop_output;
    if (run.loop == Loop::Receive) {
        ASSERT_EQ(::write(far_end.get(), run.far_end_sends.data(), run.far_end_sends.size()),
                  static_cast<ssize_t>(run.far_end_sends.size()));
        ASSERT_TRUE(test::wait_until_queued(port.serialFd(), static_cast<int>(run.far_end_sends.size())));
        for (std::size_t pass = 0; pass < run.far_end_sends.size(); ++pass) port.receiveOnce();
        EXPECT_EQ(test::queued_bytes(port.serialFd()), 0) << "one byte a pass";
    } else {
        for (int cycle = 0; cycle < run.send_cycles; ++cycle) port.sendTestCycle();
    }
    EXPECT_EQ(loop_output.take(), run.printed);

    // A marker sent after the loop ends what the loop put on the line.
    ASSERT_TRUE(port.writeSerialPort("#"));
    EXPECT_EQ(test::read_bytes(far_end.get(), run.far_end_gets.size() + 1), run.far_end_gets + "#");
}

const BuildCase kBuildCases[] = {
    {"probe", {.type = kTtyS, .baud = kDefaultBaud}, kSetUp9600 + "Initialising port {dev}\nEnd\n", Loop::Receive,
     kAwkwardBytes, 0, kAwkwardBytes, ""},
    {"stream", {.type = kTtyS, .baud = kDefaultBaud, .announcePortAndSpeed = true},
     "port 0 baud 10\n" + kSetUp9600 + "Initialising port {dev}\nEnd\n", Loop::Send, "", 3, "",
     kCycle + kCycle + kCycle},
    {"sink", {.type = kTtyS, .baud = kDefaultBaud, .printFlagWords = true, .echoReceived = true},
     kSetUp9600 + "Initialising port {dev}\ncflag 8bd ciflag 4 oflag 0 lflag 0\nEnd\n", Loop::Receive,
     kAwkwardBytes, 0, kAwkwardBytes, kAwkwardBytes},
};

INSTANTIATE_TEST_SUITE_P(SerialLayer, BuildOnTheLine, ::testing::ValuesIn(kBuildCases),
                         [](const auto &test) { return std::string(test.param.name); });

// ---------------------------------------------------------------------------
// Reading, speeds and the failures of the set-up.

TEST_F(SerialLayer, ReadsOneWaitingByteAtATimeAndNeverBlocks) {
    test::PtyPair line(device(0), device(1));
    UniqueFd far_end = test::open_line_end(device(1));
    SerialPort port({});
    StdoutCapture quiet;
    ASSERT_EQ(port.initSerialIO(0), SetUp::Ready);
    quiet.take();

    StdoutCapture reads;
    EXPECT_EQ(port.readSerialPort(), std::nullopt) << "nothing waits";
    ASSERT_EQ(::write(far_end.get(), "hello", 5), 5);
    ASSERT_TRUE(test::wait_until_queued(port.serialFd(), 5));
    std::string received;
    for (int call = 0; call < 5; ++call) {
        const std::optional<char> byte = port.readSerialPort();
        ASSERT_TRUE(byte.has_value()) << call;
        received.push_back(*byte);
        EXPECT_EQ(test::queued_bytes(port.serialFd()), 4 - call) << "one byte a call";
    }
    EXPECT_EQ(received, "hello");
    EXPECT_EQ(port.readSerialPort(), std::nullopt) << "the queue is empty again";
    EXPECT_EQ(reads.take(), "") << "an empty queue is no failure message";
}

struct SpeedIndexCase {
    int index;
    int code;
};

class SpeedIndex : public ::testing::TestWithParam<SpeedIndexCase> {};

TEST_P(SpeedIndex, SelectsItsTermiosCodeAndPrintsTheSettings) {
    const SpeedIndexCase &speed = GetParam();
    StdoutCapture output;
    const LineSettings settings = getSerialPortCfgParms(speed.index);
    EXPECT_EQ(settings.baudRate, speed.code);
    EXPECT_EQ(settings.databits, CS8);
    EXPECT_EQ(output.take(), "Baud idx " + std::to_string(speed.index) + "\nEnd params Baud " +
                                 std::to_string(speed.code) + " FlowCtrl 0 0 DataBits 48 Parity 0 StopBits 0\n");
}

const SpeedIndexCase kSpeedIndexCases[] = {
    // The table skips 134, 150 and 1800 bit/s.
    {4, B200},
    {8, B2400},
    {10, B9600},
    {14, B115200},
    {15, B230400},
    // Outside the table: the default, 9600 bit/s.
    {-1, B9600},
    {16, B9600},
    {1000, B9600},
};

INSTANTIATE_TEST_SUITE_P(SerialLayer, SpeedIndex, ::testing::ValuesIn(kSpeedIndexCases));

TEST_F(SerialLayer, FailedOpenLeavesNoPortAndLaterCallsReportTheBadDescriptor) {
    SerialPort port({});
    StdoutCapture output;
    EXPECT_EQ(port.initSerialIO(0), SetUp::NotOpened);
    EXPECT_EQ(port.serialFd(), -1);
    EXPECT_EQ(port.savedSettings(), nullptr);
    EXPECT_FALSE(port.writeSerialPort("a"));
    EXPECT_EQ(port.readSerialPort(), std::nullopt);
    const std::string text = output.take();

    const std::string set_up =
        with_device(kSetUp9600 + "Initialising port {dev}\nserial port open() failed  No such file or directory\n");
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

    const int elsewhere = descriptors_open_on("/dev/null");  // the test's standard input, for one

    SerialPort port({.printFlagWords = true});
    StdoutCapture output;
    EXPECT_EQ(port.initSerialIO(0), SetUp::NotConfigured);
    EXPECT_EQ(output.take(), with_device(kSetUp9600 +
                                         "Initialising port {dev}\ncflag 8bd ciflag 4 oflag 0 lflag 0\n"
                                         " serial port tcsetaddtr() failed - Inappropriate ioctl for device\n"));
    EXPECT_EQ(descriptors_open_on(device(0)), elsewhere + 1) << "the descriptor is still open";
    EXPECT_EQ(port.savedSettings(), nullptr) << "no terminal, no settings to put back";
    port.closeSerialPort();
    EXPECT_EQ(descriptors_open_on(device(0)), elsewhere);
}

TEST_F(SerialLayer, UnknownFamilyOpensNothing) {
    test::PtyPair line(device(0), device(1));
    for (int type : {0, 4, -1}) {
        SerialPort port({.type = type});
        StdoutCapture output;
        EXPECT_EQ(port.initSerialIO(0), SetUp::UnknownFamily) << type;
        EXPECT_EQ(output.take(), kSetUp9600 + "Invalid port\n") << type;
        EXPECT_EQ(port.serialFd(), -1) << type;
        EXPECT_EQ(descriptors_open_on(device(0)), 0) << type;
    }
}

// ---------------------------------------------------------------------------
// What the port leaves behind: the device's own line settings, and no
// descriptor in a child program.

// The ways a port is closed, or an object gives its port up.
enum class Closing { CloseCall, Destruction, OpeningAnotherPort, OpeningAMissingDevice };

struct ClosingCase {
    const char *name;
    Closing closing;
};

void PrintTo(const ClosingCase &test, std::ostream *out) { *out << test.name; }

class LineSettingsOnClose : public SerialLayer, public ::testing::WithParamInterface<ClosingCase> {};

TEST_P(LineSettingsOnClose, AreThoseTheDeviceHadBefore) {
    test::PtyPair line(device(0), device(1));
    const termios before = test::set_line_settings(device(0), test::cooked_settings());

    std::optional<SerialPort> port;
    port.emplace(PortOptions{});
    StdoutCapture quiet;
    ASSERT_EQ(port->initSerialIO(0), SetUp::Ready);
    const termios raw = test::line_settings(device(0));
    ASSERT_FALSE(test::same_line_settings(raw, before)) << "the port runs raw while it is open";
    EXPECT_EQ(raw.c_lflag, 0u);
    ASSERT_NE(port->savedSettings(), nullptr);
    EXPECT_TRUE(test::same_line_settings(*port->savedSettings(), before));

    switch (GetParam().closing) {
    case Closing::CloseCall: port->closeSerialPort(); break;
    case Closing::Destruction: port.reset(); break;
    case Closing::OpeningAnotherPort: EXPECT_EQ(port->initSerialIO(1), SetUp::Ready); break;
    case Closing::OpeningAMissingDevice: EXPECT_EQ(port->initSerialIO(7), SetUp::NotOpened); break;
    }
    quiet.take();

    EXPECT_TRUE(test::same_line_settings(test::line_settings(device(0)), before));
    EXPECT_EQ(descriptors_open_on(device(0)), 0) << "the port is closed";
    if (GetParam().closing == Closing::OpeningAnotherPort) {
        EXPECT_EQ(descriptors_open_on(device(1)), 1) << "the port opened in its place";
    } else if (port) {
        EXPECT_EQ(port->serialFd(), -1);
        EXPECT_EQ(port->savedSettings(), nullptr);
    }
}

const ClosingCase kClosingCases[] = {
    {"close_call", Closing::CloseCall},
    {"destruction", Closing::Destruction},
    {"opening_another_port", Closing::OpeningAnotherPort},
    {"opening_a_missing_device", Closing::OpeningAMissingDevice},
};

INSTANTIATE_TEST_SUITE_P(SerialLayer, LineSettingsOnClose, ::testing::ValuesIn(kClosingCases),
                         [](const auto &test) { return std::string(test.param.name); });

// A child program started while the port is open: does it find the
// descriptor? The shell looks in its own /proc/self/fd. A copy made without
// close-on-exec shows that the look would find a leak.
struct ChildCase {
    const char *name;
    std::function<UniqueFd(int)> descriptor;  // from the port's descriptor
    const char *child_finds;
};

void PrintTo(const ChildCase &test, std::ostream *out) { *out << test.name; }

class DescriptorInAChild : public SerialLayer, public ::testing::WithParamInterface<ChildCase> {};

TEST_P(DescriptorInAChild, IsThereOnlyWhenMadeInheritable) {
    test::PtyPair line(device(0), device(1));
    SerialPort port({});
    StdoutCapture quiet;
    ASSERT_EQ(port.initSerialIO(0), SetUp::Ready);
    quiet.take();

    UniqueFd looked_for = GetParam().descriptor(port.serialFd());
    const int fd = looked_for ? looked_for.get() : port.serialFd();
    test::RunResult child = test::run_program(
        {"/bin/sh", "-c", "if [ -L /proc/self/fd/$0 ]; then echo open; else echo closed; fi", std::to_string(fd)});
    EXPECT_EQ(child.exit_code, 0) << child.err;
    EXPECT_EQ(child.out, std::string(GetParam().child_finds) + "\n") << "descriptor " << fd;
}

const ChildCase kChildCases[] = {
    {"port_descriptor", [](int) { return UniqueFd(); }, "closed"},
    {"inheritable_copy", [](int fd) { return UniqueFd(::dup(fd)); }, "open"},
};

INSTANTIATE_TEST_SUITE_P(SerialLayer, DescriptorInAChild, ::testing::ValuesIn(kChildCases),
                         [](const auto &test) { return std::string(test.param.name); });

}  // namespace
}  // namespace dcu::serial
