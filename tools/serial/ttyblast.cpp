// ttyblast TYPE port baud: the sending side of a serial link test.
//
// Built twice from this source. The probe build (ttyblast) sends the single
// byte "a" and then prints whatever comes back, so with ttysink echoing at
// the far end of the cable the "a" returns. The stream build
// (ttyblast-stream, DCU_TTYBLAST_STREAM set to 1) sends the test text over
// and over, paced only by the line. Both run until stopped from outside.
#include <cstdio>

#include "common/decimal_text.hpp"
#include "tools/serial/restore_on_stop.hpp"
#include "tools/serial/serialIO.hpp"
#include "tools/serial/tool_start.hpp"

#if !defined(DCU_TTYBLAST_STREAM)
#error "build with DCU_TTYBLAST_STREAM=0 (ttyblast) or DCU_TTYBLAST_STREAM=1 (ttyblast-stream)"
#endif

namespace dcu::serial {
namespace {

constexpr bool kStreamBuild = DCU_TTYBLAST_STREAM != 0;

constexpr const char *kUsage =
    "Usage ttyblast TYPE ( 1 - ttyS ,2 - ttyUSB, 3 - ttyACM ) port 0/1/2/3...) baud (  7 - 1200/8 - 2400/9 - "
    "4800/10 - 9600/11 - 19200/12 - 38400/13 - 57600/14 - 115200  )";
// The two builds word a negative port differently.
constexpr const char *kInvalidPort = kStreamBuild ? "Invalid port " : "Invalid port no.";

bool isDeviceFamily(int family) { return family >= kTtyS && family <= kTtyAcm; }
constexpr int kHighestSpeedIndex = 14;  // 115200

int run(char **argv) {
    const int family = decimal::atoi_value(argv[1]);
    const int port = decimal::atoi_value(argv[2]);
    const int speed_index = decimal::atoi_value(argv[3]);
    if (!isDeviceFamily(family)) {
        std::puts("Invalid type");
        return kExitFailure;
    }
    if (port < 0) {
        std::puts(kInvalidPort);
        return kExitFailure;
    }
    const int speed = speed_or_default(speed_index, kHighestSpeedIndex);

    SerialPort line({.type = family, .baud = speed, .announcePortAndSpeed = kStreamBuild});
    const RestoreOnStop restore(line);
    if (line.initSerialIO(port) != SetUp::Ready) return kExitFailure;
    if constexpr (kStreamBuild) {
        line.sendTestTextForever();
    } else {
        line.writeSerialPort("a");
        line.receiveForever();
    }
}

}  // namespace
}  // namespace dcu::serial

int main(int argc, char **argv) {
    return dcu::serial::tool_main(argc, argv, 4, dcu::serial::kUsage, dcu::serial::run);
}
