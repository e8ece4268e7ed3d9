// ttysink port baud: the receiving side of a serial link test.
//
// Opens /dev/ttyS<port>, announces itself with "abcdefghijkl", then prints
// every byte it receives and sends it straight back, so a probe build of
// ttyblast at the other end of the cable gets its byte back. Runs until
// stopped from outside.
#include <cstdio>
#include <string_view>

#include "common/decimal_text.hpp"
#include "tools/serial/restore_on_stop.hpp"
#include "tools/serial/serialIO.hpp"
#include "tools/serial/tool_start.hpp"

namespace dcu::serial {
namespace {

constexpr const char *kUsage =
    "Usage ttysink port ( 0/1/2... ) baud (  7 - 1200/8 - 2400/9 - 4800/10 - 9600/11 - 19200/12 - 38400/13 - "
    "57600/14 - 115200/15 - 230400  )";
constexpr std::string_view kGreeting = "abcdefghijkl";

constexpr int kHighestSpeedIndex = 15;  // 230400

int run(char **argv) {
    const int port = decimal::atoi_value(argv[1]);
    // The speed is checked before the port, so both messages can appear.
    const int speed = speed_or_default(decimal::atoi_value(argv[2]), kHighestSpeedIndex);
    if (port < 0) {
        std::puts("Invalid port");
        return kExitFailure;
    }

    SerialPort line({.type = kTtyS, .baud = speed, .printFlagWords = true, .echoReceived = true});
    const RestoreOnStop restore(line);
    if (line.initSerialIO(port) != SetUp::Ready) return kExitFailure;
    line.writeSerialPort(kGreeting);
    line.receiveForever();
}

}  // namespace
}  // namespace dcu::serial

int main(int argc, char **argv) {
    return dcu::serial::tool_main(argc, argv, 3, dcu::serial::kUsage, dcu::serial::run);
}
