// What the serial tools do alike before their own work: the argument count
// and the usage text, the line that echoes the program's name and first
// argument, the speed index that falls back to 9600, and the exit status of
// every failure (usage, a rejected argument, a port that can't be set up).
#pragma once

#include <cstdio>

#include "tools/serial/serialIO.hpp"

namespace dcu::serial {

inline constexpr int kExitFailure = 1;

// The speed index as given when it is one of 7 to `highest`; otherwise the
// default, after saying so.
inline int speed_or_default(int index, int highest) {
    if (index >= 7 && index <= highest) return index;
    std::puts("Invalid baud... setting to default 9600 ");
    return kDefaultBaud;
}

// The tools' main: with the expected number of words, echoes the first two
// and runs the tool; else the usage text and kExitFailure.
inline int tool_main(int argc, char **argv, int expected_argc, const char *usage, int (*run)(char **argv)) {
    if (argc != expected_argc) {
        std::puts(usage);
        return kExitFailure;
    }
    std::printf(" Arg 0 %s arg 1 %s\n", argv[0], argv[1]);
    return run(argv);
}

}  // namespace dcu::serial
