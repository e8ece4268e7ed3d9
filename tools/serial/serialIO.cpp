#include "tools/serial/serialIO.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "common/paths.hpp"

namespace dcu::serial {

namespace {

// The write failure message names this file by its base name.
constexpr const char *baseName(const char *path) {
    const char *base = path;
    for (const char *at = path; *at != '\0'; ++at) {
        if (*at == '/') base = at + 1;
    }
    return base;
}
constexpr const char *kSourceName = baseName(__FILE__);

// The device of a family and port; empty for a family that has none.
std::string deviceName(int type, int port) {
    std::string_view prefix;
    switch (type) {
    case kTtyS: prefix = paths::kTtySPrefix; break;
    case kTtyUsb: prefix = paths::kTtyUsbPrefix; break;
    case kTtyAcm: prefix = paths::kTtyAcmPrefix; break;
    default: return {};
    }
    std::string name = paths::on_unit(prefix);
    name += std::to_string(port);
    return name;
}

}  // namespace

LineSettings getSerialPortCfgParms(int baud) {
    std::printf("Baud idx %d\n", baud);
    const bool inTable = baud >= 0 && baud < static_cast<int>(serialPortSpeed.size());
    LineSettings line;
    line.baudRate = serialPortSpeed[static_cast<std::size_t>(inTable ? baud : kDefaultBaud)];
    line.hwFlowCtrl = 0;
    line.swFlowCtrl = 0;
    line.databits = CS8;
    line.parityOn = 0;
    line.parity = 0;
    line.stopbits = 0;
    std::printf("End params Baud %d FlowCtrl %d %d DataBits %d Parity %d StopBits %d\n", line.baudRate,
                line.hwFlowCtrl, line.swFlowCtrl, line.databits, line.parity, line.stopbits);
    return line;
}

SetUp SerialPort::initSerialIO(int port) {
    if (options_.announcePortAndSpeed) std::printf("port %d baud %d\n", port, options_.baud);
    const LineSettings line = getSerialPortCfgParms(options_.baud);
    std::puts("After getting serial port cfg params");

    termios settings{};  // every flag, control character and speed word 0

    const std::string device = deviceName(options_.type, port);
    if (device.empty()) {
        std::puts("Invalid port");
        return SetUp::UnknownFamily;
    }
    std::printf("Initialising port %s\n", device.c_str());

    closeSerialPort();  // a port opened by an earlier call gets its settings back first
    fd_.reset(::open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!fd_) {
        std::printf("serial port open() failed  %s\n", std::strerror(errno));
        return SetUp::NotOpened;
    }
    // What the device was set to before, to be put back on close. A device
    // that is no terminal has none, and is refused by tcsetattr below.
    if (::tcgetattr(fd_.get(), &saved_) == 0) savedOn_.store(fd_.get());

    // Raw line: the speed lives only in the c_cflag speed bits. VMIN and VTIME
    // stay 0, so a read returns at once with what is there.
    settings.c_cflag = static_cast<tcflag_t>(line.baudRate | line.hwFlowCtrl | line.databits | line.stopbits |
                                             line.parity | line.parityOn | CLOCAL | CREAD);
    settings.c_iflag = static_cast<tcflag_t>((line.parityOn != 0 ? INPCK : IGNPAR) | line.swFlowCtrl);
    settings.c_oflag = 0;
    settings.c_lflag = 0;
    if (options_.printFlagWords) {
        std::printf("cflag %x ciflag %x oflag %x lflag %x\n", settings.c_cflag, settings.c_iflag, settings.c_oflag,
                    settings.c_lflag);
    }

    ::tcflush(fd_.get(), TCIFLUSH);
    if (::tcsetattr(fd_.get(), TCSANOW, &settings) != 0) {
        std::printf(" serial port tcsetaddtr() failed - %s\n", std::strerror(errno));
        return SetUp::NotConfigured;
    }
    std::puts("End");
    return SetUp::Ready;
}

bool SerialPort::writeSerialPort(std::string_view bytes) {
    const int writeLine = __LINE__ + 1;  // the line of the write, for the failure message
    if (::write(fd_.get(), bytes.data(), bytes.size()) < 0) {
        std::printf("%s:%d:%s: Writing message to serial port failed = %s\n", kSourceName, writeLine,
                    "writeSerialPort()", std::strerror(errno));
        return false;
    }
    return true;
}

std::optional<char> SerialPort::readSerialPort() {
    int waiting = 0;
    if (::ioctl(fd_.get(), FIONREAD, &waiting) < 0) {
        std::printf("ioctl failed - %s\n", std::strerror(errno));
        return std::nullopt;
    }
    if (waiting <= 0) return std::nullopt;
    char byte = 0;
    if (::read(fd_.get(), &byte, 1) <= 0) {
        std::printf("Failed to read %s\n", std::strerror(errno));
        return std::nullopt;
    }
    return byte;
}

void SerialPort::waitForSerialInput() {
    // A hung-up line reports itself ready for ever; a receive loop waits this
    // long between passes instead of spinning.
    constexpr std::chrono::seconds kHungUpPause{1};
    if (!fd_) {  // poll() would ignore the descriptor and wait for ever
        std::this_thread::sleep_for(kHungUpPause);
        return;
    }
    pollfd ready{fd_.get(), POLLIN, 0};
    if (::poll(&ready, 1, -1) < 0) return;  // interrupted: the caller simply reads
    if ((ready.revents & (POLLHUP | POLLERR | POLLNVAL)) == 0) return;
    // A hung-up or failed line stays "ready"; only input still queued is worth
    // reading at once.
    int waiting = 0;
    if (::ioctl(fd_.get(), FIONREAD, &waiting) < 0 || waiting <= 0) std::this_thread::sleep_for(kHungUpPause);
}

void SerialPort::receiveOnce() {
    waitForSerialInput();
    const std::optional<char> byte = readSerialPort();
    if (!byte) return;
    std::putchar(*byte);
    std::fflush(stdout);
    if (options_.echoReceived) writeSerialPort(std::string_view(&*byte, 1));
}

void SerialPort::receiveForever() {
    for (;;) receiveOnce();
}

void SerialPort::sendTestCycle() {
    constexpr std::string_view text(testPattern, sizeof testPattern - 1);
    writeSerialPort("\r");
    for (std::size_t at = 0; at < text.size(); ++at) writeSerialPort(text.substr(at, 1));
    writeSerialPort("\r");
}

void SerialPort::sendTestTextForever() {
    for (;;) sendTestCycle();
}

void SerialPort::putSettingsBack() const noexcept {
    // At once, not once the output has drained: output that never drains (a
    // pseudo-terminal nobody reads) must not hold the close or a stop up.
    const int fd = savedOn_.load();
    if (fd >= 0) ::tcsetattr(fd, TCSANOW, &saved_);
}

void SerialPort::closeSerialPort() noexcept {
    putSettingsBack();
    savedOn_.store(-1);
    fd_.reset();
}

}  // namespace dcu::serial
