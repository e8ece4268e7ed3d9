// The serial port layer of the field tools: one serial device of the board,
// opened raw at a chosen speed with 8 data bits, no parity, one stop bit and
// no flow control, then written and read.
//
// The same source is compiled once per program, and exactly one of these
// definitions says which build it is:
//
//   DCU_SERIAL_BUILD_PROBE   ttyblast, probe build: device family from `type`,
//                            reads the answer back
//   DCU_SERIAL_BUILD_STREAM  ttyblast, stream build: device family from `type`,
//                            announces "port %d baud %d" first, never reads
//   DCU_SERIAL_BUILD_SINK    ttysink: always a ttyS device, prints the four
//                            termios flag words before applying them
//
// Each program holds one open port at a time, in the module state below. All
// messages go to standard output; device names honour DCU_ROOT.
#pragma once

#include <termios.h>

#include <array>

#if defined(DCU_SERIAL_BUILD_PROBE) + defined(DCU_SERIAL_BUILD_STREAM) + defined(DCU_SERIAL_BUILD_SINK) != 1
#error "define exactly one of DCU_SERIAL_BUILD_PROBE, DCU_SERIAL_BUILD_STREAM, DCU_SERIAL_BUILD_SINK"
#endif

namespace dcu::serial {

// termios speed codes by speed index. The command lines admit 7 to 14
// (ttyblast) or 7 to 15 (ttysink); 10, 9600 bit/s, is the default. The table
// skips 134, 150 and 1800 bit/s, so index 4 is 200 and index 8 is 2400.
inline constexpr std::array<int, 16> serialPortSpeed = {
    B0,    B50,   B75,   B110,  B200,  B300,   B600,    B1200,
    B2400, B4800, B9600, B19200, B38400, B57600, B115200, B230400,
};
inline constexpr int kDefaultBaud = 10;

// The stream build's test text: a line feed, the digits, the capitals, the
// small letters (with "mon" where the alphabet has m, n, o), seven signs and
// a closing line feed.
inline constexpr char testPattern[] =
    "\n0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmonpqrstuvwxyz~!@#$%^\n";
static_assert(sizeof testPattern - 1 == 71);

// Descriptor of the open port: the result of the last open, -1 after a
// failed open or before any.
extern int serialFd;
#if !defined(DCU_SERIAL_BUILD_SINK)
// Device family chosen on ttyblast's command line: 1 ttyS, 2 ttyUSB, 3 ttyACM.
extern int type;
#endif
// Speed index into serialPortSpeed, set by the program before initSerialIO.
extern int baud;
// Port number from the command line (the stream build keeps it here).
extern int portNo;

// Line settings, recomputed from `baud` by getSerialPortCfgParms: termios
// bits for the c_cflag word (all but swFlowCtrl) and the c_iflag word.
extern int baudRate;
extern int hwFlowCtrl;
extern int swFlowCtrl;
extern int databits;
extern int stopbits;
extern int parity;
extern int parityOn;

// Fills the line settings from `baud` and prints them. An index outside the
// speed table selects the default speed.
void getSerialPortCfgParms();

// Opens the device of `port` read-write (blocking, not as controlling
// terminal), discards pending input and applies the raw settings with
// VMIN = VTIME = 0. Returns 0, or -1 after its message: unknown device
// family (nothing opened, serialFd unchanged), open failure (serialFd = -1)
// or configuration failure (the port stays open, unconfigured). Calling it
// again closes the port opened before.
int initSerialIO(int port);

// One write() of `count` bytes to the port. 0 when the write did not fail
// (a short count is not looked at), -1 after a message when it failed.
int writeSerialPort(const char *bytes, int count);

#if !defined(DCU_SERIAL_BUILD_STREAM)
// Reads at most one byte into buffer[0] and never blocks: 1 for a byte, -1
// when nothing waits (silently) or the driver failed (with a message).
int readSerialPort(char *buffer);

// Blocks until the port has input (poll, no timeout), so that a receive loop
// sleeps instead of spinning. When the line is hung up or in error and can
// never deliver, it pauses for a second instead, so such a loop cannot spin
// either; readSerialPort then reports the failure.
void waitForSerialInput();
#endif

// Closes the port when one is open; serialFd becomes -1.
void closeSerialPort();

}  // namespace dcu::serial
