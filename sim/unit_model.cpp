#include "sim/unit_model.hpp"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <set>
#include <string_view>

namespace dcu::sim {

namespace {

// What each stream of the seed is used for.
enum Purpose : std::uint64_t {
    kSerialStream = 1,
    kStatusStream,
    kReadingStream,
    kFileStream,
    kSelectionStream,
    kModemStream,
    kEthernetStream,
    kRegisterStream,
};

// The selection streams are numbered by ProfileKind; InstParams comes after them.
constexpr std::uint64_t kInstSelectionIndex = 4;

constexpr Seconds kEventSpan = 90 * kDay;         // event logs cover the last 90 days
constexpr Seconds kOdSpan = 6 * kHour;            // one on-demand read covers 6 hours
constexpr int kMonthlyBillingLimit = 240;         // up to 20 years of monthly bills
constexpr Seconds kLongBillingSpan = 7305 * kDay;  // beyond that, 20 years shared out

// A step that fits `records` records into span: whole minutes when a
// record gets a minute or more, else whole seconds (at least one).
Seconds spread_step(Seconds span, long records) {
    const Seconds step = span / std::max<long>(records, 1);
    if (step >= kMinute) return step - step % kMinute;
    return std::max<Seconds>(step, 1);
}

StampPlan stepped(Seconds first, Seconds step) {
    StampPlan plan;
    plan.rule = StampPlan::Rule::stepped;
    plan.first = first;
    plan.step = step;
    return plan;
}

// Bills on the first of each month up to the clock's month, oldest first.
StampPlan billing_stamps(long records) {
    if (records <= kMonthlyBillingLimit) {
        StampPlan plan;
        plan.rule = StampPlan::Rule::monthly;
        plan.first_month = month_start(date_of(kUnitClock), -static_cast<int>(std::max<long>(records, 1) - 1));
        return plan;
    }
    return stepped(kUnitClock - kLongBillingSpan, spread_step(kLongBillingSpan, records));
}

// Midnight snapshots of one month (up to the clock); when more records are
// asked for than the month has days, they share the month out.
StampPlan daily_stamps(CivilDate month, long records) {
    const Seconds start = at_midnight(month);
    const Seconds end = std::min(at_midnight(month_start(month, 1)), kUnitClock);
    if ((records - 1) * kDay < end - start) return stepped(start, kDay);
    return stepped(start, spread_step(end - start, records));
}

StampPlan event_stamps(long records) {
    StampPlan plan;
    plan.rule = StampPlan::Rule::scattered;
    plan.first = kUnitClock - kEventSpan;
    // Gaps of at most span / records keep every event before the clock.
    plan.max_gap = std::max<Seconds>(kEventSpan / std::max<long>(records, 1), 1);
    return plan;
}

std::string two_digits(int value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02d", value % 100);
    return text;
}

// "2024_03_27": no "bill", "dp" or "event" in it, so the listings count it
// as a load-survey file.
std::string load_survey_name(CivilDate day) {
    return std::to_string(day.year) + "_" + two_digits(day.month) + "_" + two_digits(day.day);
}

std::string od_name(Seconds start) {
    const CivilDate day = date_of(start);
    const Seconds of_day = start - at_midnight(day);
    return "odls_" + std::to_string(day.year) + two_digits(day.month) + two_digits(day.day) + "_" +
           two_digits(static_cast<int>(of_day / kHour)) + two_digits(static_cast<int>(of_day % kHour / kMinute));
}

std::vector<Column> columns_of(std::span<const CatalogueEntry> catalogue, int count) {
    std::vector<Column> columns;
    columns.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) columns.push_back(column_at(catalogue, static_cast<std::size_t>(i)));
    return columns;
}

// `count` of the columns in an order of the user's own (never header order
// when two or more are chosen): the last column always, the first (the
// clock) whenever two or more are chosen, the rest drawn.
std::vector<SelectionEntry> choose_selection(const std::vector<Column> &columns, int count, Rng rng) {
    const std::size_t total = columns.size();
    const std::size_t wanted = std::min<std::size_t>(static_cast<std::size_t>(std::max(count, 0)), total);
    if (wanted == 0) return {};
    std::vector<std::size_t> picks = {total - 1};
    if (wanted >= 2) picks.push_back(0);
    // Partial Fisher-Yates over the columns in between.
    std::vector<std::size_t> middle;
    for (std::size_t i = 1; i + 1 < total; ++i) middle.push_back(i);
    for (std::size_t i = 0; picks.size() < wanted; ++i) {
        const std::size_t j = i + static_cast<std::size_t>(rng.below(middle.size() - i));
        std::swap(middle[i], middle[j]);
        picks.push_back(middle[i]);
    }
    for (std::size_t i = picks.size(); i > 1; --i) std::swap(picks[i - 1], picks[static_cast<std::size_t>(rng.below(i))]);
    if (picks.size() >= 2 && std::is_sorted(picks.begin(), picks.end()))
        std::rotate(picks.begin(), picks.begin() + 1, picks.end());
    std::vector<SelectionEntry> selection;
    for (std::size_t index : picks) selection.push_back({columns[index].obis, columns[index].name});
    return selection;
}

int draw_status(Rng &rng) {
    const std::uint64_t roll = rng.below(100);
    if (roll < 80) return 1;
    return roll < 90 ? 0 : 2;
}

std::string draw_serial(std::uint64_t seed, int position, const std::set<std::string> &taken) {
    for (std::uint64_t attempt = 0;; ++attempt) {
        Rng rng = stream(seed, kSerialStream, static_cast<std::uint64_t>(position), attempt);
        char text[16];
        std::snprintf(text, sizeof text, "SN%08u", static_cast<unsigned>(rng.below(100000000)));
        if (taken.count(text) == 0) return text;
    }
}

std::string draw_imei(Rng &rng) {
    std::string digits = "35";
    while (digits.size() < 14) digits.push_back(static_cast<char>('0' + rng.below(10)));
    // Luhn check digit over the first fourteen digits.
    int sum = 0;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        int digit = digits[i] - '0';
        if (i % 2 == 1) {
            digit *= 2;
            if (digit > 9) digit -= 9;
        }
        sum += digit;
    }
    digits.push_back(static_cast<char>('0' + (10 - sum % 10) % 10));
    return digits;
}

Modem draw_modem(std::uint64_t seed) {
    static constexpr std::string_view kOperators[] = {"Lumora Mobile", "Vantel Cell", "Quorra Net", "Birchwave"};
    Rng rng = stream(seed, kModemStream);
    Modem modem;
    modem.status = "Connected";
    modem.signal_strength = std::to_string(rng.between(-105, -51));
    modem.network_type = std::to_string(rng.between(2, 4));
    modem.registration = rng.below(10) < 8 ? "1" : "5";  // home network, now and then roaming
    modem.network_operator = std::string(kOperators[rng.below(std::size(kOperators))]);
    modem.imei = draw_imei(rng);
    return modem;
}

std::vector<ProfileFile> profile_files(const UnitShape &shape, int position) {
    std::vector<ProfileFile> files;
    auto add = [&](std::string name, ProfileKind kind, StampPlan stamps, int event_type = 0) {
        ProfileFile file;
        file.name = std::move(name);
        file.kind = kind;
        file.stamps = stamps;
        file.event_type = event_type;
        file.seed = stream(shape.seed, kFileStream, static_cast<std::uint64_t>(position), files.size()).next();
        files.push_back(std::move(file));
    };
    add("billing", ProfileKind::billing, billing_stamps(shape.records));
    const CivilDate today = date_of(kUnitClock);
    for (int m = 0; m < shape.months; ++m) {
        const CivilDate month = month_start(today, -m);
        add("dp_" + two_digits(month.month) + "_" + std::to_string(month.year), ProfileKind::daily,
            daily_stamps(month, shape.records));
    }
    for (int type = 1; type <= shape.events; ++type)
        add("event_" + std::to_string(type), ProfileKind::event, event_stamps(shape.records), type);
    const Seconds midnight = at_midnight(today);
    for (int d = 1; d <= shape.ls_files; ++d) {
        const Seconds day = midnight - d * kDay;
        add(load_survey_name(date_of(day)), ProfileKind::load_survey, stepped(day, spread_step(kDay, shape.records)));
    }
    const Seconds last_hour = kUnitClock - kUnitClock % kHour;
    for (int k = 0; k < shape.od_files; ++k) {
        const Seconds start = last_hour - (k + 1) * kOdSpan;
        add("od/" + od_name(start), ProfileKind::load_survey, stepped(start, spread_step(kOdSpan, shape.records)));
    }
    return files;
}

std::vector<Reading> draw_readings(const std::vector<Column> &columns, const Meter &meter, std::uint64_t seed) {
    Rng rng = stream(seed, kReadingStream, static_cast<std::uint64_t>(meter.index));
    std::vector<Reading> readings;
    for (const Column &column : columns) {
        std::string value;
        ColumnValues(column, meter.register_seed).append(value, rng, kUnitClock, 0);
        readings.push_back({column.obis, std::move(value)});
    }
    return readings;
}

// FNV-1a: a code's own number, the same everywhere.
std::uint64_t code_hash(std::string_view code) {
    std::uint64_t hash = 0xCBF29CE484222325ULL;
    for (const char c : code) hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001B3ULL;
    return hash;
}

void append_fixed(std::string &out, std::int64_t scaled, int decimals) {
    char digits[24];
    const bool negative = scaled < 0;
    std::uint64_t magnitude = static_cast<std::uint64_t>(scaled);
    if (negative) magnitude = 0 - magnitude;
    // Digits from the right, the decimal point after `decimals` of them.
    char *start = std::end(digits);
    for (int place = 0; place <= decimals || magnitude > 0; ++place) {
        if (place == decimals && decimals > 0) *--start = '.';
        *--start = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    }
    if (negative) *--start = '-';
    out.append(start, std::end(digits));
}

// Event codes of one type come from that type's own range, as the meters
// number them (voltage events from 1, current events from 51, ...).
std::int64_t draw_event_code(Rng &rng, int event_type) {
    const std::int64_t base = 50 * static_cast<std::int64_t>(std::max(event_type, 1) - 1) + 1;
    return base + rng.between(0, 11);
}

}  // namespace

std::uint64_t Rng::next() noexcept {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

std::uint64_t Rng::below(std::uint64_t bound) noexcept { return bound == 0 ? 0 : next() % bound; }

std::int64_t Rng::between(std::int64_t lo, std::int64_t hi) noexcept {
    if (hi <= lo) return lo;
    const auto width = static_cast<std::uint64_t>(hi - lo) + 1;
    return lo + static_cast<std::int64_t>(below(width));
}

Rng stream(std::uint64_t seed, std::uint64_t purpose, std::uint64_t a, std::uint64_t b) {
    std::uint64_t state = Rng(seed).next();
    state = Rng(state ^ purpose).next();
    state = Rng(state ^ a).next();
    state = Rng(state ^ b).next();
    return Rng(state);
}

Seconds stamp_of(const StampPlan &plan, long index, Rng &rng, ScatterState &state) {
    switch (plan.rule) {
    case StampPlan::Rule::monthly:
        return at_midnight(month_start(plan.first_month, static_cast<int>(index)));
    case StampPlan::Rule::stepped:
        return plan.first + index * plan.step;
    case StampPlan::Rule::scattered:
        state.last = (index == 0 ? plan.first : state.last) + rng.between(1, plan.max_gap);
        return state.last;
    }
    return plan.first;
}

ColumnValues::ColumnValues(const Column &column, std::uint64_t register_seed) : shape_(column.shape) {
    if (shape_.form != Form::counter) return;
    Rng rng = stream(register_seed, kRegisterStream, code_hash(column.obis));
    base_ = rng.between(shape_.lo, shape_.hi);
    per_kday_ = rng.between(shape_.step_lo, shape_.step_hi);
}

void ColumnValues::append(std::string &out, Rng &rng, Seconds stamp, int event_type) const {
    switch (shape_.form) {
    case Form::clock:
        out += format_time_stamp(stamp);
        return;
    case Form::level:
        append_fixed(out, rng.between(shape_.lo, shape_.hi), shape_.decimals);
        return;
    case Form::counter: {
        const Seconds elapsed = std::max<Seconds>(stamp - kRegisterOrigin, 0);
        append_fixed(out, base_ + per_kday_ * elapsed / (1000 * kDay), shape_.decimals);
        return;
    }
    case Form::event_code:
        append_fixed(out, draw_event_code(rng, event_type), 0);
        return;
    }
}

UnitModel build_unit(const UnitShape &shape) {
    UnitModel unit;
    unit.shape = shape;
    for (ProfileKind kind : {ProfileKind::billing, ProfileKind::daily, ProfileKind::event, ProfileKind::load_survey}) {
        Profile &profile = unit.profiles[static_cast<std::size_t>(kind)];
        profile.kind = kind;
        profile.columns = columns_of(profile_catalogue(kind), shape.columns);
        profile.selection =
            choose_selection(profile.columns, shape.selected, stream(shape.seed, kSelectionStream, static_cast<std::uint64_t>(kind)));
    }
    unit.inst_columns = columns_of(instantaneous_catalogue(), shape.inst);
    unit.inst_selection = choose_selection(unit.inst_columns, shape.selected, stream(shape.seed, kSelectionStream, kInstSelectionIndex));

    std::set<std::string> serials;
    for (int position = 0; position < shape.meters; ++position) {
        Meter meter;
        meter.index = position;
        meter.port = position / kMetersPerPort;
        meter.meter = position % kMetersPerPort;
        meter.serial = draw_serial(shape.seed, position, serials);
        serials.insert(meter.serial);
        meter.register_seed = stream(shape.seed, kRegisterStream, static_cast<std::uint64_t>(position)).next();
        Rng status_rng = stream(shape.seed, kStatusStream, static_cast<std::uint64_t>(position));
        meter.comm_status = draw_status(status_rng);
        meter.readings = draw_readings(unit.inst_columns, meter, shape.seed);
        meter.files = profile_files(shape, position);
        for (const ProfileFile &file : meter.files)
            if (file.name.starts_with("od/")) meter.od_names.push_back(file.name.substr(3));
        unit.meters.push_back(std::move(meter));
    }
    for (int slot = 0; slot < shape.eth_meters; ++slot) {
        Rng rng = stream(shape.seed, kEthernetStream, static_cast<std::uint64_t>(slot));
        unit.eth_status.push_back(draw_status(rng));
    }
    unit.modem = draw_modem(shape.seed);
    return unit;
}

}  // namespace dcu::sim
