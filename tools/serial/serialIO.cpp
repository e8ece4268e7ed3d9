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
#include <string_view>
#include <thread>

#include "common/paths.hpp"
#include "common/unique_fd.hpp"

namespace dcu::serial {

int serialFd = -1;
#if !defined(DCU_SERIAL_BUILD_SINK)
int type = 0;
#endif
int baud = kDefaultBaud;
int portNo = 0;
int baudRate = 0;
int hwFlowCtrl = 0;
int swFlowCtrl = 0;
int databits = 0;
int stopbits = 0;
int parity = 0;
int parityOn = 0;

namespace {

// Owns the descriptor that serialFd names, so that opening the port again or
// closing it never leaves a descriptor behind.
UniqueFd openPort;

// The write failure message names this file by its base name.
constexpr const char *baseName(const char *path) {
    const char *base = path;
    for (const char *at = path; *at != '\0'; ++at) {
        if (*at == '/') base = at + 1;
    }
    return base;
}
constexpr const char *kSourceName = baseName(__FILE__);

std::string deviceName(std::string_view family, int port) {
    std::string name = paths::on_unit(family);
    name += std::to_string(port);
    return name;
}

}  // namespace

void getSerialPortCfgParms() {
    std::printf("Baud idx %d\n", baud);
    const bool inTable = baud >= 0 && baud < static_cast<int>(serialPortSpeed.size());
    baudRate = serialPortSpeed[static_cast<std::size_t>(inTable ? baud : kDefaultBaud)];
    hwFlowCtrl = 0;
    swFlowCtrl = 0;
    databits = CS8;
    parityOn = 0;
    parity = 0;
    stopbits = 0;
    std::printf("End params Baud %d FlowCtrl %d %d DataBits %d Parity %d StopBits %d\n", baudRate, hwFlowCtrl,
                swFlowCtrl, databits, parity, stopbits);
}

int initSerialIO(int port) {
#if defined(DCU_SERIAL_BUILD_STREAM)
    std::printf("port %d baud %d\n", port, baud);
#endif
    getSerialPortCfgParms();
    std::puts("After getting serial port cfg params");

    termios settings{};  // every flag, control character and speed word 0

#if defined(DCU_SERIAL_BUILD_SINK)
    const std::string device = deviceName("/dev/ttyS", port);
#else
    std::string device;
    switch (type) {
    case 1: device = deviceName("/dev/ttyS", port); break;
    case 2: device = deviceName("/dev/ttyUSB", port); break;
    case 3: device = deviceName("/dev/ttyACM", port); break;
    default: std::puts("Invalid port"); return -1;
    }
#endif
    std::printf("Initialising port %s\n", device.c_str());

    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY);
    const int openError = errno;
    openPort.reset(fd);  // a port opened by an earlier call is closed here
    serialFd = fd;
    if (fd < 0) {
        std::printf("serial port open() failed  %s\n", std::strerror(openError));
        return -1;
    }

    // Raw line: the speed lives only in the c_cflag speed bits. VMIN and VTIME
    // stay 0, so a read returns at once with what is there.
    settings.c_cflag =
        static_cast<tcflag_t>(baudRate | hwFlowCtrl | databits | stopbits | parity | parityOn | CLOCAL | CREAD);
    settings.c_iflag = static_cast<tcflag_t>((parityOn != 0 ? INPCK : IGNPAR) | swFlowCtrl);
    settings.c_oflag = 0;
    settings.c_lflag = 0;
#if defined(DCU_SERIAL_BUILD_SINK)
    std::printf("cflag %x ciflag %x oflag %x lflag %x\n", settings.c_cflag, settings.c_iflag, settings.c_oflag,
                settings.c_lflag);
#endif

    ::tcflush(serialFd, TCIFLUSH);
    if (::tcsetattr(serialFd, TCSANOW, &settings) != 0) {
        std::printf(" serial port tcsetaddtr() failed - %s\n", std::strerror(errno));
        return -1;
    }
    std::puts("End");
    return 0;
}

int writeSerialPort(const char *bytes, int count) {
    const auto size = static_cast<std::size_t>(count > 0 ? count : 0);
    const int writeLine = __LINE__ + 1;  // the line of the write, for the failure message
    if (::write(serialFd, bytes, size) < 0) {
        std::printf("%s:%d:%s: Writing message to serial port failed = %s\n", kSourceName, writeLine,
                    "writeSerialPort()", std::strerror(errno));
        return -1;
    }
    return 0;
}

#if !defined(DCU_SERIAL_BUILD_STREAM)
int readSerialPort(char *buffer) {
    int waiting = 0;
    if (::ioctl(serialFd, FIONREAD, &waiting) < 0) {
        std::printf("ioctl failed - %s\n", std::strerror(errno));
        return -1;
    }
    if (waiting <= 0) return -1;
    if (::read(serialFd, buffer, 1) <= 0) {
        std::printf("Failed to read %s\n", std::strerror(errno));
        return -1;
    }
    return 1;
}

void waitForSerialInput() {
    // A hung-up line reports itself ready for ever; a receive loop waits this
    // long between passes instead of spinning.
    constexpr std::chrono::seconds kHungUpPause{1};
    if (serialFd < 0) {  // poll() would ignore the descriptor and wait for ever
        std::this_thread::sleep_for(kHungUpPause);
        return;
    }
    pollfd port{serialFd, POLLIN, 0};
    if (::poll(&port, 1, -1) < 0) return;  // interrupted: the caller simply reads
    if ((port.revents & (POLLHUP | POLLERR | POLLNVAL)) == 0) return;
    // A hung-up or failed line stays "ready"; only input still queued is worth
    // reading at once.
    int waiting = 0;
    if (::ioctl(serialFd, FIONREAD, &waiting) < 0 || waiting <= 0) std::this_thread::sleep_for(kHungUpPause);
}
#endif

void closeSerialPort() {
    openPort.reset();
    serialFd = -1;
}

}  // namespace dcu::serial
