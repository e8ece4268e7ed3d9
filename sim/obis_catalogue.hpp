// The parameters a simulated meter reports: OBIS codes as the meters spell
// them, the display names a user would give them on the web side, and the
// shape of their values.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace dcu::sim {

enum class ProfileKind { billing, daily, event, load_survey };

enum class Form {
    clock,       // a time stamp "2024-03-05 10:30:00"
    level,       // a reading that wanders between lo and hi
    counter,     // a register that grows with time: lo..hi on 2000-01-01,
                 // then step_lo..step_hi more every 1000 days
    event_code,  // the code of a logged event, from the event type's range
};

// Values are fixed-point: lo, hi and the steps are scaled by 10^decimals,
// so every value prints the same on every machine. A register's base and
// rate are drawn once per meter and code, so the billing, daily, event and
// instantaneous values of one meter agree with each other.
struct ValueShape {
    Form form = Form::level;
    int decimals = 0;
    std::int64_t lo = 0;
    std::int64_t hi = 0;
    std::int64_t step_lo = 0;
    std::int64_t step_hi = 0;
};

struct CatalogueEntry {
    std::string_view obis;
    std::string_view name;
    ValueShape shape;
};

struct Column {
    std::string obis;
    std::string name;
    ValueShape shape;
};

inline constexpr std::string_view kClockCode = "0.0.1.0.0.255";
inline constexpr std::string_view kEventCode = "0.0.96.11.0.255";

// The realistic columns of each profile kind, clock first (and the event
// code second in event logs).
std::span<const CatalogueEntry> profile_catalogue(ProfileKind kind);
// The realistic instantaneous readings.
std::span<const CatalogueEntry> instantaneous_catalogue();

// Column i (from 0) of a profile or of the instantaneous list: the realistic
// entry while the catalogue lasts, then synthetic but well-formed codes in
// the manufacturer-specific range.
Column column_at(std::span<const CatalogueEntry> catalogue, std::size_t index);

}  // namespace dcu::sim
