// What a simulated unit holds: its meters with their serial numbers,
// statuses, last readings and profile files, its Ethernet meters, its modem,
// and the users' parameter selections. Everything is drawn from the seed
// with a generator of our own, so the same seed gives the same unit on every
// machine and with every standard library.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/calendar.hpp"
#include "sim/obis_catalogue.hpp"

namespace dcu::sim {

// The sizes a run asks for (the command-line options).
struct UnitShape {
    int meters = 5;             // serial meter positions 0..meters-1, port-major
    std::uint64_t seed = 1;
    long records = 24;          // data lines per profile file
    int columns = 12;           // header columns per profile file
    int selected = 6;           // parameters per selection section
    int inst = 16;              // instantaneous readings per meter
    int events = 3;             // event_1..event_N
    int months = 2;             // dp_MM_YYYY files, the clock's month and those before
    int ls_files = 3;           // load-survey files (days before the clock's day)
    int od_files = 2;           // on-demand load-survey files in od/
    int eth_meters = 0;         // EthPort0Met%dStatus records
    int bill_copies = 0;        // extra files billing_1..billing_N in each meter directory
};

inline constexpr int kSerialPorts = 4;
inline constexpr int kMetersPerPort = 5;
inline constexpr int kSerialPositions = kSerialPorts * kMetersPerPort;
inline constexpr int kEthernetSlots = 10;

// The unit's clock when the simulated readings were taken.
inline constexpr Seconds kUnitClock = at_midnight({2024, 3, 28}) + 10 * kHour + 30 * kMinute;
// Registers count from here; no record is older.
inline constexpr Seconds kRegisterOrigin = at_midnight({2000, 1, 1});

// splitmix64: small, fast, and the same sequence everywhere.
class Rng {
public:
    explicit Rng(std::uint64_t seed) noexcept : state_(seed) {}
    std::uint64_t next() noexcept;
    // Uniform enough for a simulation in 0..bound-1; 0 when bound is 0.
    std::uint64_t below(std::uint64_t bound) noexcept;
    // lo..hi, both included.
    std::int64_t between(std::int64_t lo, std::int64_t hi) noexcept;

private:
    std::uint64_t state_;
};

// An independent stream for one purpose: the same (seed, purpose, a, b)
// always gives the same stream, whatever else the run asks for, so a meter's
// serial number does not change when more records are asked for.
Rng stream(std::uint64_t seed, std::uint64_t purpose, std::uint64_t a = 0, std::uint64_t b = 0);

// When the records of a file were taken.
struct StampPlan {
    enum class Rule {
        monthly,    // 00:00 of the first of each month from first_month on
        stepped,    // first, first + step, first + 2 step, ...
        scattered,  // from first on, gaps of 1..max_gap seconds drawn per record
    };
    Rule rule = Rule::stepped;
    Seconds first = 0;
    Seconds step = 0;
    Seconds max_gap = 0;
    CivilDate first_month{};
};

struct ProfileFile {
    std::string name;  // relative to the meter directory: "billing", "od/odls_20240328_0400"
    ProfileKind kind = ProfileKind::billing;
    StampPlan stamps;
    int event_type = 0;  // event logs: the N of event_N
    std::uint64_t seed = 0;  // the file's own stream of values
};

struct Reading {
    std::string obis;
    std::string value;
};

struct Meter {
    int index = 0;  // position i: port i / 5, meter i % 5, directory meter_id_i
    int port = 0;
    int meter = 0;
    std::string serial;
    std::uint64_t register_seed = 0;  // the base and rate of each of its registers
    int comm_status = 1;  // 0 no, 1 yes, 2 not configured
    std::vector<Reading> readings;
    std::vector<ProfileFile> files;
    std::vector<std::string> od_names;  // the names of the files in od/

    std::string dir_name() const { return "meter_id_" + std::to_string(index); }
};

struct SelectionEntry {
    std::string obis;
    std::string assign;
};

struct Profile {
    ProfileKind kind = ProfileKind::billing;
    std::vector<Column> columns;  // header order
    std::vector<SelectionEntry> selection;  // the users' choice, not in header order
};

struct Modem {
    std::string status;
    std::string signal_strength;
    std::string network_type;
    std::string registration;
    std::string network_operator;
    std::string imei;
};

struct UnitModel {
    UnitShape shape;
    std::array<Profile, 4> profiles;  // indexed by ProfileKind
    std::vector<Column> inst_columns;
    std::vector<SelectionEntry> inst_selection;
    std::vector<Meter> meters;
    std::vector<int> eth_status;
    Modem modem;

    const Profile &profile(ProfileKind kind) const { return profiles[static_cast<std::size_t>(kind)]; }
};

UnitModel build_unit(const UnitShape &shape);

// The time stamp of record `index` of a file; call in record order, with one
// ScatterState per file (the scattered rule keeps a running time in it).
struct ScatterState {
    Seconds last = 0;
};
Seconds stamp_of(const StampPlan &plan, long index, Rng &rng, ScatterState &state);

// The values of one column of one meter. Levels and event codes are drawn
// from the caller's stream record by record; a register is a function of
// time, the same in every file of the meter.
class ColumnValues {
public:
    ColumnValues(const Column &column, std::uint64_t register_seed);
    // Appends the column's value at stamp to out.
    void append(std::string &out, Rng &rng, Seconds stamp, int event_type) const;

private:
    ValueShape shape_;
    std::int64_t base_ = 0;
    std::int64_t per_kday_ = 0;
};

}  // namespace dcu::sim
