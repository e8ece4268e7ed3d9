// Civil dates and times of the simulated unit, as seconds since
// 1970-01-01 00:00:00 with no time zone (the unit's meters keep local time).
#pragma once

#include <cstdint>
#include <string>

namespace dcu::sim {

using Seconds = std::int64_t;

inline constexpr Seconds kMinute = 60;
inline constexpr Seconds kHour = 60 * kMinute;
inline constexpr Seconds kDay = 24 * kHour;

struct CivilDate {
    int year = 1970;
    int month = 1;  // 1..12
    int day = 1;    // 1..31
};

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
constexpr std::int64_t days_from_civil(CivilDate date) {
    const std::int64_t y = date.year - (date.month <= 2 ? 1 : 0);
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t year_of_era = y - era * 400;
    const std::int64_t month_index = date.month > 2 ? date.month - 3 : date.month + 9;
    const std::int64_t day_of_year = (153 * month_index + 2) / 5 + date.day - 1;
    const std::int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + day_of_era - 719468;
}

constexpr CivilDate civil_from_days(std::int64_t days) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t day_of_era = days - era * 146097;
    const std::int64_t year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const std::int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const std::int64_t month_index = (5 * day_of_year + 2) / 153;
    const int day = static_cast<int>(day_of_year - (153 * month_index + 2) / 5 + 1);
    const int month = static_cast<int>(month_index < 10 ? month_index + 3 : month_index - 9);
    const int year = static_cast<int>(year_of_era + era * 400 + (month <= 2 ? 1 : 0));
    return {year, month, day};
}

constexpr Seconds at_midnight(CivilDate date) { return days_from_civil(date) * kDay; }

constexpr CivilDate date_of(Seconds time) {
    const std::int64_t days = (time >= 0 ? time : time - (kDay - 1)) / kDay;
    return civil_from_days(days);
}

// The first day of the month that lies `months` months after (or, negative,
// before) the month of date.
constexpr CivilDate month_start(CivilDate date, int months = 0) {
    const int index = date.year * 12 + (date.month - 1) + months;
    return {index / 12, index % 12 + 1, 1};
}

// "2024-03-05 10:30:00"
std::string format_time_stamp(Seconds time);

}  // namespace dcu::sim
