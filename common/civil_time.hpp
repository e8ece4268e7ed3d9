// Times of the unit's load-survey commands: a civil date and a time of day
// to the minute, in the unit's local time (the meters keep no time zone).
#pragma once

#include <tuple>

namespace dcu::civil {

struct Minute {
    int year;
    int month;   // 1..12
    int day;     // 1..31
    int hour;    // 0..23
    int minute;  // 0..59
};

constexpr bool is_leap_year(int year) noexcept { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

constexpr int days_in_month(int year, int month) noexcept {
    constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    return month == 2 && is_leap_year(year) ? 29 : kDays[month - 1];
}

// Whether the time is one a clock can show: 2024-02-29 10:30 is, 2023-02-29,
// 2024-04-31, month 13 and 24:00 are not.
constexpr bool exists(const Minute &t) noexcept {
    return t.day >= 1 && t.day <= days_in_month(t.year, t.month) && t.hour >= 0 && t.hour <= 23 && t.minute >= 0 &&
           t.minute <= 59;
}

constexpr bool is_after(const Minute &a, const Minute &b) noexcept {
    return std::tie(a.year, a.month, a.day, a.hour, a.minute) > std::tie(b.year, b.month, b.day, b.hour, b.minute);
}

}  // namespace dcu::civil
