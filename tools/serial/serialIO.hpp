// The serial port layer of the field tools: one serial device of the board,
// opened raw at a chosen speed with 8 data bits, no parity, one stop bit and
// no flow control, then written and read.
//
// A SerialPort owns its descriptor. What sets the three programs apart comes
// in as values (PortOptions): the device family and speed, the extra lines
// the set-up prints, and whether the receive loop echoes what it gets. The
// port keeps the line settings the device had before it was opened and puts
// them back when it is closed, so a serial line never stays raw at a test
// speed after a test; its descriptor is never inherited by a child program.
//
// All messages go to standard output; device names honour DCU_ROOT.
#pragma once

#include <termios.h>

#include <array>
#include <atomic>
#include <optional>
#include <string_view>

#include "common/unique_fd.hpp"

namespace dcu::serial {

// termios speed codes by speed index. The command lines admit 7 to 14
// (ttyblast) or 7 to 15 (ttysink); 10, 9600 bit/s, is the default. The table
// skips 134, 150 and 1800 bit/s, so index 4 is 200 and index 8 is 2400.
inline constexpr std::array<int, 16> serialPortSpeed = {
    B0,    B50,   B75,   B110,  B200,  B300,   B600,    B1200,
    B2400, B4800, B9600, B19200, B38400, B57600, B115200, B230400,
};
inline constexpr int kDefaultBaud = 10;

// Device families, numbered as ttyblast's TYPE argument numbers them.
inline constexpr int kTtyS = 1;
inline constexpr int kTtyUsb = 2;
inline constexpr int kTtyAcm = 3;

// The stream sender's test text: a line feed, the digits, the capitals, the
// small letters (with "mon" where the alphabet has m, n, o), seven signs and
// a closing line feed.
inline constexpr char testPattern[] =
    "\n0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmonpqrstuvwxyz~!@#$%^\n";
static_assert(sizeof testPattern - 1 == 71);

// The line settings of one speed index: termios bits for the c_cflag word
// (all but swFlowCtrl) and for the c_iflag word.
struct LineSettings {
    int baudRate = 0;
    int hwFlowCtrl = 0;
    int swFlowCtrl = 0;
    int databits = 0;
    int stopbits = 0;
    int parity = 0;
    int parityOn = 0;
};

// The settings of speed index `baud`, printed as they are worked out. An
// index outside the speed table selects the default speed.
LineSettings getSerialPortCfgParms(int baud);

struct PortOptions {
    int type = kTtyS;         // device family: kTtyS, kTtyUsb or kTtyAcm
    int baud = kDefaultBaud;  // speed index into serialPortSpeed
    // ttyblast-stream announces "port %d baud %d" before the set-up.
    bool announcePortAndSpeed = false;
    // ttysink prints the four termios flag words before applying them.
    bool printFlagWords = false;
    // ttysink's receive loop sends every byte straight back.
    bool echoReceived = false;
};

// How far initSerialIO got; each outcome but Ready has printed its message.
enum class SetUp {
    Ready,          // open and configured
    UnknownFamily,  // no device of that family: nothing opened
    NotOpened,      // the device did not open; no port is open now
    NotConfigured,  // open, but the line settings were refused
};

class SerialPort {
public:
    explicit SerialPort(PortOptions options) noexcept : options_(options) {}
    SerialPort(const SerialPort &) = delete;
    SerialPort &operator=(const SerialPort &) = delete;
    ~SerialPort() { closeSerialPort(); }

    // Opens the device of `port` read-write (blocking, not as controlling
    // terminal, closed on exec), keeps its line settings, discards pending
    // input and applies the raw settings with VMIN = VTIME = 0. A port opened
    // by an earlier call is closed first, its settings put back.
    SetUp initSerialIO(int port);

    // One write() of all the bytes. True when the write did not fail (a short
    // count is not looked at); false after a message when it failed.
    bool writeSerialPort(std::string_view bytes);

    // Reads at most one byte and never blocks: nothing when no byte waits
    // (silently) or the driver failed (with a message).
    std::optional<char> readSerialPort();

    // Blocks until the port has input (poll, no timeout), so that a receive
    // loop sleeps instead of spinning. When the line is hung up or in error
    // and can never deliver, it pauses for a second instead, so such a loop
    // cannot spin either; readSerialPort then reports the failure.
    void waitForSerialInput();

    // One pass of the receive loop: waits, reads a byte, prints it and
    // flushes standard output, and sends it back when the options say so.
    void receiveOnce();
    [[noreturn]] void receiveForever();

    // One cycle of the stream sender, 73 bytes: carriage return, the test
    // text one byte per write, carriage return. The blocking writes pace the
    // sender to the line.
    void sendTestCycle();
    [[noreturn]] void sendTestTextForever();

    // Puts the line settings back as they were found and closes the port,
    // when one is open.
    void closeSerialPort() noexcept;

    // Puts the device's settings from before initSerialIO back on the open
    // port, and leaves it open; nothing when there are none. Safe in a
    // signal handler at any moment: the settings are kept before the port's
    // own are applied, and given up only once they are back.
    void putSettingsBack() const noexcept;

    // The descriptor of the open port; -1 before any open, after a failed
    // one and after closeSerialPort.
    int serialFd() const noexcept { return fd_.get(); }
    // The device's settings from before initSerialIO changed them; null when
    // no port is open or the device reported none (it is no terminal).
    const termios *savedSettings() const noexcept { return savedOn_.load() >= 0 ? &saved_ : nullptr; }

private:
    PortOptions options_;
    UniqueFd fd_;
    // saved_ holds the settings to put back on savedOn_, the port's
    // descriptor, while savedOn_ is not -1. saved_ is only written while
    // savedOn_ is -1, so a signal handler never reads it half written.
    termios saved_{};
    std::atomic<int> savedOn_{-1};
    static_assert(std::atomic<int>::is_always_lock_free);
};

}  // namespace dcu::serial
