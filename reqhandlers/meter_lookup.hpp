// Meter positions and their serial numbers.
//
// The unit serves 4 serial ports with 5 meters each. A meter's position is
// its port index p (0 to 3) and meter index m (0 to 4); packed into 16 bits
// as p * 256 + m; its data directory is meter_id_n with n = p * 5 + m.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "dcu/reqhandlers.h"

namespace dcu::meters {

inline constexpr int kPorts = DCU_NUM_SER_METER_PORTS;
inline constexpr int kMetersPerPort = DCU_METERS_PER_SER_PORT;
inline constexpr std::size_t kPositions = kPorts * kMetersPerPort;

struct Position {
    int port;
    int meter;
    int number() const noexcept { return port * kMetersPerPort + meter; }
    std::int16_t packed() const noexcept { return static_cast<std::int16_t>(port * 256 + meter); }
};

inline Position position_of(std::size_t index) noexcept {
    const int at = static_cast<int>(index);
    return {at / kMetersPerPort, at % kMetersPerPort};
}

// The SER_NUM of every position, in port-major order, read in one round
// trip: the text where the store holds one, nothing where it does not (no
// reply, an error reply, a missing key or field).
struct SerialNumbers {
    std::array<std::optional<std::string>, kPositions> texts;
    bool all_replied = true;  // false when a reply did not come at all (connection lost)
};
SerialNumbers read_serial_numbers();

// The meter whose serial number contains ser_num, through find_ser_num;
// nothing when no meter has it.
std::optional<Position> resolve(const char *ser_num);

// Clears what find_ser_num has learnt. The host process never needs this
// (the table lives as long as it does); tests start each case afresh.
void forget_known_serial_numbers();

}  // namespace dcu::meters
