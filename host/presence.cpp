#include "host/presence.hpp"

#include <ctime>

#include "common/store.hpp"
#include "common/unit_keys.hpp"
#include "reqhandlers/json_escape.hpp"

namespace dcu::host {

std::string presence_message(const Presence &presence, std::string_view state) {
    return "{\"SER_NUM\":\"" + dcu::answer::escaped(presence.serial_number) + "\",\"STATE\":\"" + std::string(state) +
           "\",\"SINCE\":\"" + presence.since + "\",\"CONNECTION\":" + std::to_string(presence.connection) + "}";
}

std::string utc_timestamp(std::chrono::system_clock::time_point time) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm utc{};
    ::gmtime_r(&seconds, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string serial_number_from_store() {
    const store::Reply reply = store::command("HMGET %s %s", unit_keys::kGeneralInfo, unit_keys::kUnitSerialNumberField);
    return std::string(reply.element_text(0).value_or(""));
}

}  // namespace dcu::host
