// ttyblast TYPE port baud: the sending side of a serial link test.
//
// Built twice from this source. The probe build (DCU_SERIAL_BUILD_PROBE)
// sends the single byte "a" and then prints whatever comes back, so with
// ttysink echoing at the far end of the cable the "a" returns. The stream
// build (DCU_SERIAL_BUILD_STREAM, installed as ttyblast-stream) sends the
// test text over and over, paced only by the line. Both run until stopped
// from outside.
#include <array>
#include <cstdio>
#include <string_view>

#include "tools/serial/arguments.hpp"
#include "tools/serial/serialIO.hpp"

namespace dcu::serial {
namespace {

constexpr const char *kUsage =
    "Usage ttyblast TYPE ( 1 - ttyS ,2 - ttyUSB, 3 - ttyACM ) port 0/1/2/3...) baud (  7 - 1200/8 - 2400/9 - "
    "4800/10 - 9600/11 - 19200/12 - 38400/13 - 57600/14 - 115200  )";
constexpr const char *kDefaultSpeed = "Invalid baud... setting to default 9600 ";

// Usage errors, rejected arguments and a port that can't be set up.
constexpr int kExitFailure = 1;

bool isDeviceFamily(int family) { return family >= 1 && family <= 3; }
bool isSpeedIndex(int index) { return index >= 7 && index <= 14; }

#if defined(DCU_SERIAL_BUILD_PROBE)

[[noreturn]] void printWhatComesBack() {
    std::array<char, 256> received{};
    for (;;) {
        waitForSerialInput();
        received.fill('\0');
        const int count = readSerialPort(received.data());
        if (count <= 0) continue;
        for (int at = 0; at < count; ++at) std::putchar(received[static_cast<std::size_t>(at)]);
        std::fflush(stdout);
    }
}

int run(char **argv) {
    const int family = argToInt(argv[1]);
    const int port = argToInt(argv[2]);
    int speed = argToInt(argv[3]);
    if (!isDeviceFamily(family)) {
        std::puts("Invalid type");
        return kExitFailure;
    }
    if (port < 0) {
        std::puts("Invalid port no.");
        return kExitFailure;
    }
    if (!isSpeedIndex(speed)) {
        std::puts(kDefaultSpeed);
        speed = kDefaultBaud;
    }
    type = family;
    baud = speed;
    if (initSerialIO(port) != 0) return kExitFailure;
    writeSerialPort("a", 1);
    printWhatComesBack();
}

#else  // stream build

// One cycle on the line is 73 bytes: carriage return, the 71-byte test text
// one byte per write, carriage return. The blocking writes pace the sender.
[[noreturn]] void sendTestTextForever() {
    constexpr std::string_view text(testPattern, sizeof testPattern - 1);
    for (;;) {
        writeSerialPort("\r", 1);
        for (std::size_t at = 0; at < text.size(); ++at) writeSerialPort(&text[at], 1);
        writeSerialPort("\r", 1);
    }
}

int run(char **argv) {
    type = argToInt(argv[1]);
    portNo = argToInt(argv[2]);
    baud = argToInt(argv[3]);
    if (!isDeviceFamily(type)) {
        std::puts("Invalid type");
        return kExitFailure;
    }
    if (portNo < 0) {
        std::puts("Invalid port ");
        return kExitFailure;
    }
    if (!isSpeedIndex(baud)) {
        std::puts(kDefaultSpeed);
        baud = kDefaultBaud;
    }
    if (initSerialIO(portNo) != 0) return kExitFailure;
    sendTestTextForever();
}

#endif

}  // namespace
}  // namespace dcu::serial

int main(int argc, char **argv) {
    if (argc != 4) {
        std::puts(dcu::serial::kUsage);
        return dcu::serial::kExitFailure;
    }
    std::printf(" Arg 0 %s arg 1 %s\n", argv[0], argv[1]);
    return dcu::serial::run(argv);
}
