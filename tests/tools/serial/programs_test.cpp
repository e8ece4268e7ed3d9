// ttyblast (probe and stream builds) and ttysink as a user runs them: their
// argument checks, exit statuses and every line they print, and the bytes
// they put on a line made of socat pseudo-terminals at $DCU_ROOT/dev/ttyS0
// and $DCU_ROOT/dev/ttyS1.
#include <gtest/gtest.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/run_program.hpp"
#include "tests/support/temp_dir.hpp"
#include "tests/tools/serial/live_program.hpp"
#include "tests/tools/serial/pty_pair.hpp"

namespace dcu::test {
namespace {

enum class Program { Probe, Stream, Sink };

std::string path_of(Program program) {
    switch (program) {
    case Program::Probe: return DCU_TTYBLAST;
    case Program::Stream: return DCU_TTYBLAST_STREAM;
    case Program::Sink: return DCU_TTYSINK;
    }
    return {};
}

const std::string kBlastUsage =
    "Usage ttyblast TYPE ( 1 - ttyS ,2 - ttyUSB, 3 - ttyACM ) port 0/1/2/3...) baud (  7 - 1200/8 - 2400/9 - "
    "4800/10 - 9600/11 - 19200/12 - 38400/13 - 57600/14 - 115200  )\n";
const std::string kSinkUsage =
    "Usage ttysink port ( 0/1/2... ) baud (  7 - 1200/8 - 2400/9 - 4800/10 - 9600/11 - 19200/12 - 38400/13 - "
    "57600/14 - 115200/15 - 230400  )\n";
const std::string kDefaultSpeed = "Invalid baud... setting to default 9600 \n";
const std::string kNoDevice = "serial port open() failed  No such file or directory\n";
const std::string kNotATerminal = " serial port tcsetaddtr() failed - Inappropriate ioctl for device\n";

// The lines of getSerialPortCfgParms and initSerialIO up to the device name.
std::string set_up_lines(int index, speed_t code) {
    return "Baud idx " + std::to_string(index) + "\nEnd params Baud " + std::to_string(code) +
           " FlowCtrl 0 0 DataBits 48 Parity 0 StopBits 0\nAfter getting serial port cfg params\n";
}
const std::string kSetUp9600 = set_up_lines(10, B9600);

// Expected texts name the program as "{prog}" and the scratch root as "{root}".
std::string expand(std::string text, const std::string &program, const std::string &root) {
    for (const auto &[key, value] : {std::pair{std::string("{prog}"), program}, std::pair{std::string("{root}"), root}}) {
        for (auto at = text.find(key); at != std::string::npos; at = text.find(key, at + value.size())) {
            text.replace(at, key.size(), value);
        }
    }
    return text;
}

std::string arg_line(const std::string &first) { return " Arg 0 {prog} arg 1 " + first + "\n"; }

// ---------------------------------------------------------------------------
// Runs that end by themselves: usage errors, rejected arguments, ports that
// can't be opened or configured. Every one exits with status 1.

enum class Device { None, NotATerminal };

struct EndingCase {
    const char *name;
    Program program;
    std::vector<std::string> args;
    Device device;
    std::string expected_out;
};

class EndingRun : public ::testing::TestWithParam<EndingCase> {};

TEST_P(EndingRun, PrintsItsMessagesAndExitsWithStatus1) {
    const EndingCase &run = GetParam();
    TempDir root;
    if (run.device == Device::NotATerminal) {
        std::filesystem::create_directories(root / "dev");
        std::filesystem::create_symlink("/dev/null", root / "dev/ttyS0");
    }
    std::vector<std::string> argv = {path_of(run.program)};
    argv.insert(argv.end(), run.args.begin(), run.args.end());

    RunOptions options;
    options.env = {{"DCU_ROOT", root.path().string()}};
    RunResult result = run_program(argv, options);

    EXPECT_EQ(result.out, expand(run.expected_out, argv[0], root.path().string()));
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.exit_code, 1);
}

const EndingCase kEndingCases[] = {
    // Wrong number of arguments: the usage text alone.
    {"blast_no_arguments", Program::Probe, {}, Device::None, kBlastUsage},
    {"blast_two_arguments", Program::Probe, {"1", "0"}, Device::None, kBlastUsage},
    {"blast_four_arguments", Program::Probe, {"1", "0", "10", "1"}, Device::None, kBlastUsage},
    {"stream_one_argument", Program::Stream, {"1"}, Device::None, kBlastUsage},
    {"sink_no_arguments", Program::Sink, {}, Device::None, kSinkUsage},
    {"sink_one_argument", Program::Sink, {"0"}, Device::None, kSinkUsage},
    {"sink_three_arguments", Program::Sink, {"0", "10", "1"}, Device::None, kSinkUsage},

    // Device family: only 1, 2 and 3; a word reads as 0.
    {"blast_type_0", Program::Probe, {"0", "0", "10"}, Device::None, arg_line("0") + "Invalid type\n"},
    {"blast_type_4", Program::Probe, {"4", "0", "10"}, Device::None, arg_line("4") + "Invalid type\n"},
    {"blast_type_word", Program::Probe, {"ttyS", "0", "10"}, Device::None, arg_line("ttyS") + "Invalid type\n"},
    {"stream_type_4", Program::Stream, {"4", "0", "10"}, Device::None, arg_line("4") + "Invalid type\n"},

    // Port: negative is rejected, with each program's own text. ttyblast
    // checks the port before the speed, ttysink the speed first.
    {"blast_negative_port", Program::Probe, {"1", "-1", "10"}, Device::None, arg_line("1") + "Invalid port no.\n"},
    {"blast_negative_port_and_bad_speed", Program::Probe, {"1", "-1", "99"}, Device::None,
     arg_line("1") + "Invalid port no.\n"},
    {"stream_negative_port", Program::Stream, {"1", "-1", "10"}, Device::None, arg_line("1") + "Invalid port \n"},
    {"sink_negative_port", Program::Sink, {"-1", "10"}, Device::None, arg_line("-1") + "Invalid port\n"},
    {"sink_bad_speed_then_negative_port", Program::Sink, {"-1", "16"}, Device::None,
     arg_line("-1") + kDefaultSpeed + "Invalid port\n"},

    // Accepted arguments, but no device to open: the family picks the name,
    // a port given as a word is port 0, and a number beyond int is held at
    // its limit rather than wrapping to a small port.
    {"blast_port_word_is_0", Program::Probe, {"1", "zero", "10"}, Device::None,
     arg_line("1") + kSetUp9600 + "Initialising port {root}/dev/ttyS0\n" + kNoDevice},
    {"blast_type_2_is_usb", Program::Probe, {"2", "0", "10"}, Device::None,
     arg_line("2") + kSetUp9600 + "Initialising port {root}/dev/ttyUSB0\n" + kNoDevice},
    {"blast_type_3_is_acm", Program::Probe, {"3", "7", "10"}, Device::None,
     arg_line("3") + kSetUp9600 + "Initialising port {root}/dev/ttyACM7\n" + kNoDevice},
    {"blast_port_beyond_int", Program::Probe, {"1", "4294967296", "10"}, Device::None,
     arg_line("1") + kSetUp9600 + "Initialising port {root}/dev/ttyS2147483647\n" + kNoDevice},
    {"stream_announces_port_and_speed", Program::Stream, {"2", "1", "15"}, Device::None,
     arg_line("2") + kDefaultSpeed + "port 1 baud 10\n" + kSetUp9600 + "Initialising port {root}/dev/ttyUSB1\n" +
         kNoDevice},
    {"sink_port_word_is_0", Program::Sink, {"zero", "10"}, Device::None,
     arg_line("zero") + kSetUp9600 + "Initialising port {root}/dev/ttyS0\n" + kNoDevice},

    // A device that opens but is no terminal can't be configured.
    {"blast_not_a_terminal", Program::Probe, {"1", "0", "10"}, Device::NotATerminal,
     arg_line("1") + kSetUp9600 + "Initialising port {root}/dev/ttyS0\n" + kNotATerminal},
    {"sink_not_a_terminal", Program::Sink, {"0", "10"}, Device::NotATerminal,
     arg_line("0") + kSetUp9600 + "Initialising port {root}/dev/ttyS0\ncflag 8bd ciflag 4 oflag 0 lflag 0\n" +
         kNotATerminal},
};

INSTANTIATE_TEST_SUITE_P(SerialPrograms, EndingRun, ::testing::ValuesIn(kEndingCases),
                         [](const auto &test) { return std::string(test.param.name); });

// ---------------------------------------------------------------------------
// Runs on a live line: they keep running until stopped.

class LiveLine : public ::testing::Test {
protected:
    std::filesystem::path device(int port) const { return root_ / ("dev/ttyS" + std::to_string(port)); }
    std::string root() const { return root_.path().string(); }
    std::map<std::string, std::string> env() const { return {{"DCU_ROOT", root()}}; }
    PtyPair make_line() const { return PtyPair(device(0), device(1)); }

    TempDir root_;
};

struct SpeedCase {
    const char *name;
    Program program;
    std::vector<std::string> args;
    bool defaulted;  // the index is out of the program's range
    int index;
    speed_t code;
    const char *cflag;  // ttysink's print of the c_cflag word
};

class SpeedOnTheLine : public LiveLine, public ::testing::WithParamInterface<SpeedCase> {};

TEST_P(SpeedOnTheLine, PortRunsRawAtTheChosenSpeed) {
    const SpeedCase &run = GetParam();
    PtyPair line(device(0), device(1));
    std::vector<std::string> argv = {path_of(run.program)};
    argv.insert(argv.end(), run.args.begin(), run.args.end());
    LiveProgram program(argv, env());
    ASSERT_TRUE(program.wait_for("End\n")) << program.output();

    // Read back from the device, as stty would show it.
    const termios settings = line_settings(device(0));
    EXPECT_EQ(::cfgetospeed(&settings), run.code);
    EXPECT_EQ(::cfgetispeed(&settings), run.code);
    EXPECT_EQ(settings.c_cflag, run.code | CS8 | CLOCAL | CREAD);
    EXPECT_EQ(settings.c_iflag, static_cast<tcflag_t>(IGNPAR));
    EXPECT_EQ(settings.c_oflag, 0u);
    EXPECT_EQ(settings.c_lflag, 0u);
    EXPECT_EQ(settings.c_cc[VMIN], 0);
    EXPECT_EQ(settings.c_cc[VTIME], 0);

    EXPECT_EQ(program.stop(), 128 + SIGTERM) << "the program runs until it is stopped";
    std::string expected = arg_line(run.args[0]) + (run.defaulted ? kDefaultSpeed : "") +
                           set_up_lines(run.index, run.code) + "Initialising port {root}/dev/ttyS0\n";
    if (run.program == Program::Sink) expected += std::string("cflag ") + run.cflag + " ciflag 4 oflag 0 lflag 0\n";
    expected += "End\n";
    EXPECT_EQ(program.output(), expand(expected, argv[0], root()));
    EXPECT_EQ(program.errors(), "");
}

const SpeedCase kSpeedCases[] = {
    {"sink_7_is_1200", Program::Sink, {"0", "7"}, false, 7, B1200, "8b9"},
    {"sink_10_is_9600", Program::Sink, {"0", "10"}, false, 10, B9600, "8bd"},
    {"sink_13_is_57600", Program::Sink, {"0", "13"}, false, 13, B57600, "18b1"},
    {"sink_14_is_115200", Program::Sink, {"0", "14"}, false, 14, B115200, "18b2"},
    {"sink_15_is_230400", Program::Sink, {"0", "15"}, false, 15, B230400, "18b3"},
    {"sink_6_defaults", Program::Sink, {"0", "6"}, true, 10, B9600, "8bd"},
    {"sink_16_defaults", Program::Sink, {"0", "16"}, true, 10, B9600, "8bd"},
    {"blast_14_is_115200", Program::Probe, {"1", "0", "14"}, false, 14, B115200, ""},
    {"blast_6_defaults", Program::Probe, {"1", "0", "6"}, true, 10, B9600, ""},
    {"blast_15_defaults", Program::Probe, {"1", "0", "15"}, true, 10, B9600, ""},
    {"blast_16_defaults", Program::Probe, {"1", "0", "16"}, true, 10, B9600, ""},
};

INSTANTIATE_TEST_SUITE_P(SerialPrograms, SpeedOnTheLine, ::testing::ValuesIn(kSpeedCases),
                         [](const auto &test) { return std::string(test.param.name); });

TEST_F(LiveLine, ProbeGetsItsByteBackFromTheSinkAndStaleInputIsNeverPrinted) {
    PtyPair line(device(0), device(1));
    UniqueFd sink_end = open_line_end(device(0));
    UniqueFd probe_end = open_line_end(device(1));

    // Input that waits at the sink's port before the sink sets it up.
    ASSERT_EQ(::write(probe_end.get(), "stale", 5), 5);
    ASSERT_TRUE(wait_until_queued(sink_end.get(), 5));
    LiveProgram sink({DCU_TTYSINK, "0", "10"}, env());
    ASSERT_TRUE(sink.wait_for("End\n")) << sink.output();

    // The sink's greeting now waits at the probe's port before the probe
    // sets it up.
    ASSERT_TRUE(wait_until_queued(probe_end.get(), 12));
    LiveProgram probe({DCU_TTYBLAST, "1", "1", "10"}, env());

    ASSERT_TRUE(probe.wait_for("End\na")) << probe.output();
    ASSERT_TRUE(sink.wait_for("End\na")) << sink.output();
    EXPECT_EQ(probe.stop(), 128 + SIGTERM);
    EXPECT_EQ(sink.stop(), 128 + SIGTERM);

    EXPECT_EQ(probe.output(), expand(arg_line("1") + kSetUp9600 + "Initialising port {root}/dev/ttyS1\nEnd\na",
                                     DCU_TTYBLAST, root()));
    EXPECT_EQ(sink.output(), expand(arg_line("0") + kSetUp9600 +
                                        "Initialising port {root}/dev/ttyS0\ncflag 8bd ciflag 4 oflag 0 lflag 0\n"
                                        "End\na",
                                    DCU_TTYSINK, root()));
    EXPECT_EQ(probe.errors(), "");
    EXPECT_EQ(sink.errors(), "");
}

TEST_F(LiveLine, SinkEchoesEveryByteAndGreetsFirst) {
    PtyPair line(device(0), device(1));
    UniqueFd far_end = open_line_end(device(1));
    LiveProgram sink({DCU_TTYSINK, "0", "10"}, env());
    ASSERT_TRUE(sink.wait_for("End\n")) << sink.output();
    EXPECT_EQ(read_bytes(far_end.get(), 12), "abcdefghijkl");

    const std::string sent = std::string("echo\0\r\n\xff", 8);
    ASSERT_EQ(::write(far_end.get(), sent.data(), sent.size()), static_cast<ssize_t>(sent.size()));
    EXPECT_EQ(read_bytes(far_end.get(), sent.size()), sent);
    ASSERT_TRUE(sink.wait_for("End\n" + sent)) << sink.output();
    EXPECT_EQ(sink.stop(), 128 + SIGTERM);
}

TEST_F(LiveLine, StreamBuildSendsCyclesOf73Bytes) {
    PtyPair line(device(0), device(1));
    UniqueFd far_end = open_line_end(device(1));
    LiveProgram stream({DCU_TTYBLAST_STREAM, "1", "0", "10"}, env());

    const std::string cycle = "\r\n0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmonpqrstuvwxyz~!@#$%^\n\r";
    ASSERT_EQ(cycle.size(), 73u);
    EXPECT_EQ(read_bytes(far_end.get(), 3 * cycle.size()), cycle + cycle + cycle);

    ASSERT_TRUE(stream.wait_for("End\n")) << stream.output();
    EXPECT_EQ(stream.stop(), 128 + SIGTERM);
    EXPECT_EQ(stream.output(), expand(arg_line("1") + "port 0 baud 10\n" + kSetUp9600 +
                                          "Initialising port {root}/dev/ttyS0\nEnd\n",
                                      DCU_TTYBLAST_STREAM, root()));
    EXPECT_EQ(stream.errors(), "");
}

// ---------------------------------------------------------------------------
// Stopped from outside, a program puts back the line settings it found and
// still ends by the signal.

struct StopCase {
    Program program;
    std::vector<std::string> args;  // port 0 in every case
};

const StopCase kStopCases[] = {
    {Program::Probe, {"1", "0", "10"}},
    {Program::Stream, {"1", "0", "14"}},
    {Program::Sink, {"0", "7"}},
};

const char *program_name(Program program) {
    switch (program) {
    case Program::Probe: return "probe";
    case Program::Stream: return "stream";
    case Program::Sink: return "sink";
    }
    return "";
}

class StopOnTheLine : public LiveLine, public ::testing::WithParamInterface<std::tuple<StopCase, int>> {};

TEST_P(StopOnTheLine, PutsTheLineSettingsBackAndEndsByTheSignal) {
    const auto &[run, signal] = GetParam();
    PtyPair line(device(0), device(1));
    const termios before = set_line_settings(device(0), cooked_settings());
    std::vector<std::string> argv = {path_of(run.program)};
    argv.insert(argv.end(), run.args.begin(), run.args.end());
    LiveProgram program(argv, env());
    ASSERT_TRUE(program.wait_for("End\n")) << program.output();
    ASSERT_EQ(line_settings(device(0)).c_lflag, 0u) << "the port runs raw";

    EXPECT_EQ(program.stop(signal), 128 + signal);
    EXPECT_TRUE(same_line_settings(line_settings(device(0)), before));
    EXPECT_EQ(program.errors(), "");
}

INSTANTIATE_TEST_SUITE_P(SerialPrograms, StopOnTheLine,
                         ::testing::Combine(::testing::ValuesIn(kStopCases), ::testing::Values(SIGINT, SIGTERM, SIGHUP)),
                         [](const auto &test) {
                             return std::string(program_name(std::get<0>(test.param).program)) + "_" +
                                    sigabbrev_np(std::get<1>(test.param));
                         });

TEST_F(LiveLine, SignalIgnoredAtTheStartStaysIgnored) {
    PtyPair line(device(0), device(1));
    const termios before = set_line_settings(device(0), cooked_settings());
    UniqueFd far_end = open_line_end(device(1));
    LiveProgram sink({DCU_TTYSINK, "0", "10"}, env(), {SIGHUP});  // as under nohup
    ASSERT_TRUE(sink.wait_for("End\n")) << sink.output();
    EXPECT_EQ(read_bytes(far_end.get(), 12), "abcdefghijkl");

    sink.send(SIGHUP);
    // Still echoing after the hangup signal: it was ignored.
    ASSERT_EQ(::write(far_end.get(), "x", 1), 1);
    EXPECT_EQ(read_bytes(far_end.get(), 1), "x");
    EXPECT_EQ(line_settings(device(0)).c_lflag, 0u) << "the port still runs raw";

    EXPECT_EQ(sink.stop(SIGTERM), 128 + SIGTERM);
    EXPECT_TRUE(same_line_settings(line_settings(device(0)), before));
}

}  // namespace
}  // namespace dcu::test
