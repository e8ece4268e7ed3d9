// The serial tools run until they are stopped from outside. Stopped by
// SIGINT (Ctrl-C), SIGTERM or SIGHUP, a tool first puts its port's line
// settings back, then the signal ends it as it would have anyway, with the
// same status for the shell. A signal that was ignored when the tool
// started (nohup, a background job of a script) stays ignored.
#pragma once

#include <signal.h>

#include <array>

#include "tools/serial/serialIO.hpp"

namespace dcu::serial {

class RestoreOnStop {
public:
    // Made before the port is opened, so that no stop falls between the
    // port's settings taking effect and the handlers: until the port holds
    // settings to put back, a stop ends the program as it always did. One
    // at a time: a program has one port.
    explicit RestoreOnStop(const SerialPort &port) noexcept;
    RestoreOnStop(const RestoreOnStop &) = delete;
    RestoreOnStop &operator=(const RestoreOnStop &) = delete;
    // The signals get their default actions back.
    ~RestoreOnStop();

private:
    static constexpr std::array<int, 3> kStopSignals = {SIGINT, SIGTERM, SIGHUP};
    std::array<bool, kStopSignals.size()> installed_{};
};

}  // namespace dcu::serial
