#include "sim/calendar.hpp"

#include <cstdio>

namespace dcu::sim {

std::string format_time_stamp(Seconds time) {
    const CivilDate date = date_of(time);
    const Seconds of_day = time - at_midnight(date);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", date.year, date.month, date.day,
                  static_cast<int>(of_day / kHour), static_cast<int>(of_day % kHour / kMinute),
                  static_cast<int>(of_day % kMinute));
    return text;
}

}  // namespace dcu::sim
