// The unit's presence on the broker: a retained state message on its status
// topic, so that a head-end tells a unit that is down from one that is slow.
//
//   {"SER_NUM":"DCU-0001","STATE":"ONLINE","SINCE":"2024-03-28T10:30:00Z","CONNECTION":1}
//
// ONLINE is published on every connection; the same text with OFFLINE is
// the connection's will (the broker publishes it when the unit dies or
// stops answering) and is published by the unit itself when it stops
// cleanly. SINCE and CONNECTION name the connection, so a head-end can tell
// a fresh ONLINE from one left over from before a broker restart.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace dcu::host {

struct Presence {
    std::string serial_number;  // DCU_GEN_INFO SerNum
    std::string since;          // UTC, "YYYY-MM-DDTHH:MM:SSZ"
    unsigned long connection = 0;  // connections accepted since the start, this one counted
};

// The state message, with the serial number escaped as the answers escape values.
std::string presence_message(const Presence &presence, std::string_view state);

// "YYYY-MM-DDTHH:MM:SSZ" of the given time.
std::string utc_timestamp(std::chrono::system_clock::time_point time);

// DCU_GEN_INFO SerNum as the store holds it now; empty when it has none or
// can't be asked.
std::string serial_number_from_store();

}  // namespace dcu::host
