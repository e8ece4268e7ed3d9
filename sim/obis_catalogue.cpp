#include "sim/obis_catalogue.hpp"

#include <array>

namespace dcu::sim {

namespace {

constexpr ValueShape clock() { return {Form::clock}; }
constexpr ValueShape event_code() { return {Form::event_code}; }
constexpr ValueShape level(int decimals, std::int64_t lo, std::int64_t hi) {
    return {Form::level, decimals, lo, hi, 0, 0};
}
// A register: base at kRegisterOrigin, growth per 1000 days.
constexpr ValueShape counter(int decimals, std::int64_t base_lo, std::int64_t base_hi, std::int64_t per_kday_lo,
                             std::int64_t per_kday_hi) {
    return {Form::counter, decimals, base_lo, base_hi, per_kday_lo, per_kday_hi};
}

// The registers, shaped once so that every profile agrees on them.
constexpr ValueShape kImportKwh = counter(2, 100000, 5000000, 400000, 2500000);
constexpr ValueShape kExportKwh = counter(2, 0, 50000, 0, 90000);
constexpr ValueShape kImportKvah = counter(2, 120000, 5500000, 450000, 2700000);
constexpr ValueShape kExportKvah = counter(2, 0, 60000, 0, 100000);
constexpr ValueShape kKvarhQ1 = counter(2, 10000, 900000, 50000, 300000);
constexpr ValueShape kKvarhQ2Q3 = counter(2, 0, 20000, 0, 15000);
constexpr ValueShape kKvarhQ4 = counter(2, 5000, 400000, 20000, 130000);
constexpr ValueShape kZoneKwh = counter(2, 25000, 1250000, 100000, 625000);
constexpr ValueShape kZoneKvah = counter(2, 30000, 1400000, 110000, 700000);
constexpr ValueShape kBillingCount = counter(0, 1, 40, 32, 34);
constexpr ValueShape kPowerOnMinutes = counter(0, 100000, 900000, 1300000, 1440000);
constexpr ValueShape kTamperCount = counter(0, 0, 30, 0, 20);

// Billing: one record per billing period (a month).
constexpr std::array kBilling = {
    CatalogueEntry{kClockCode, "Billing Date", clock()},
    CatalogueEntry{"1.0.1.8.0.255", "Cum. Import kWh", kImportKwh},
    CatalogueEntry{"1.0.2.8.0.255", "Cum. Export kWh", kExportKwh},
    CatalogueEntry{"1.0.9.8.0.255", "Cum. Import kVAh", kImportKvah},
    CatalogueEntry{"1.0.10.8.0.255", "Cum. Export kVAh", kExportKvah},
    CatalogueEntry{"1.0.1.6.0.255", "MD kW", level(3, 1500, 25000)},
    CatalogueEntry{"1.0.9.6.0.255", "MD kVA", level(3, 1700, 28000)},
    CatalogueEntry{"1.0.13.0.0.255", "Avg. Power Factor", level(3, 820, 999)},
    CatalogueEntry{"1.0.5.8.0.255", "Cum. kvarh Q1", kKvarhQ1},
    CatalogueEntry{"1.0.6.8.0.255", "Cum. kvarh Q2", kKvarhQ2Q3},
    CatalogueEntry{"1.0.7.8.0.255", "Cum. kvarh Q3", kKvarhQ2Q3},
    CatalogueEntry{"1.0.8.8.0.255", "Cum. kvarh Q4", kKvarhQ4},
    CatalogueEntry{"1.0.1.8.1.255", "Import kWh TZ1", kZoneKwh},
    CatalogueEntry{"1.0.1.8.2.255", "Import kWh TZ2", kZoneKwh},
    CatalogueEntry{"1.0.1.8.3.255", "Import kWh TZ3", kZoneKwh},
    CatalogueEntry{"1.0.1.8.4.255", "Import kWh TZ4", kZoneKwh},
    CatalogueEntry{"1.0.9.8.1.255", "Import kVAh TZ1", kZoneKvah},
    CatalogueEntry{"1.0.9.8.2.255", "Import kVAh TZ2", kZoneKvah},
    CatalogueEntry{"1.0.1.6.1.255", "MD kW TZ1", level(3, 1000, 22000)},
    CatalogueEntry{"1.0.1.6.2.255", "MD kW TZ2", level(3, 1000, 22000)},
    CatalogueEntry{"0.0.0.1.0.255", "Billing Count", kBillingCount},
    CatalogueEntry{"0.0.94.91.14.255", "Cum. Power On Duration (min)", kPowerOnMinutes},
};

// Daily (midnight) profile: one record per day.
constexpr std::array kDaily = {
    CatalogueEntry{kClockCode, "Date and Time", clock()},
    CatalogueEntry{"1.0.1.8.0.255", "Cum. Import kWh", kImportKwh},
    CatalogueEntry{"1.0.2.8.0.255", "Cum. Export kWh", kExportKwh},
    CatalogueEntry{"1.0.9.8.0.255", "Cum. Import kVAh", kImportKvah},
    CatalogueEntry{"1.0.10.8.0.255", "Cum. Export kVAh", kExportKvah},
    CatalogueEntry{"1.0.5.8.0.255", "Cum. kvarh Q1", kKvarhQ1},
    CatalogueEntry{"1.0.6.8.0.255", "Cum. kvarh Q2", kKvarhQ2Q3},
    CatalogueEntry{"1.0.7.8.0.255", "Cum. kvarh Q3", kKvarhQ2Q3},
    CatalogueEntry{"1.0.8.8.0.255", "Cum. kvarh Q4", kKvarhQ4},
    CatalogueEntry{"1.0.1.6.0.255", "MD kW", level(3, 1500, 25000)},
    CatalogueEntry{"1.0.9.6.0.255", "MD kVA", level(3, 1700, 28000)},
    CatalogueEntry{"1.0.32.7.0.255", "Voltage L1", level(2, 22400, 24300)},
    CatalogueEntry{"1.0.52.7.0.255", "Voltage L2", level(2, 22400, 24300)},
    CatalogueEntry{"1.0.72.7.0.255", "Voltage L3", level(2, 22400, 24300)},
    CatalogueEntry{"1.0.13.7.0.255", "Power Factor", level(3, 820, 999)},
    CatalogueEntry{"1.0.14.7.0.255", "Frequency", level(2, 4990, 5010)},
};

// Event logs: one record per event, with a snapshot of the supply.
constexpr std::array kEvent = {
    CatalogueEntry{kClockCode, "Event Date and Time", clock()},
    CatalogueEntry{kEventCode, "Event Code", event_code()},
    CatalogueEntry{"1.0.31.7.0.255", "Current L1", level(3, 0, 45000)},
    CatalogueEntry{"1.0.51.7.0.255", "Current L2", level(3, 0, 45000)},
    CatalogueEntry{"1.0.71.7.0.255", "Current L3", level(3, 0, 45000)},
    CatalogueEntry{"1.0.32.7.0.255", "Voltage L1", level(2, 18000, 26500)},
    CatalogueEntry{"1.0.52.7.0.255", "Voltage L2", level(2, 18000, 26500)},
    CatalogueEntry{"1.0.72.7.0.255", "Voltage L3", level(2, 18000, 26500)},
    CatalogueEntry{"1.0.33.7.0.255", "Power Factor L1", level(3, 500, 999)},
    CatalogueEntry{"1.0.53.7.0.255", "Power Factor L2", level(3, 500, 999)},
    CatalogueEntry{"1.0.73.7.0.255", "Power Factor L3", level(3, 500, 999)},
    CatalogueEntry{"1.0.1.8.0.255", "Cum. Import kWh", kImportKwh},
    CatalogueEntry{"1.0.9.8.0.255", "Cum. Import kVAh", kImportKvah},
    CatalogueEntry{"1.0.91.7.0.255", "Neutral Current", level(3, 0, 8000)},
    CatalogueEntry{"1.0.14.7.0.255", "Frequency", level(2, 4950, 5050)},
    CatalogueEntry{"0.0.94.91.0.255", "Tamper Count", kTamperCount},
};

// Load survey: one record per integration period, block values.
constexpr std::array kLoadSurvey = {
    CatalogueEntry{kClockCode, "Date and Time", clock()},
    CatalogueEntry{"1.0.12.27.0.255", "Avg. Voltage", level(2, 22400, 24300)},
    CatalogueEntry{"1.0.11.27.0.255", "Avg. Current", level(3, 200, 40000)},
    CatalogueEntry{"1.0.1.29.0.255", "Block Import kWh", level(3, 0, 9500)},
    CatalogueEntry{"1.0.2.29.0.255", "Block Export kWh", level(3, 0, 600)},
    CatalogueEntry{"1.0.9.29.0.255", "Block Import kVAh", level(3, 0, 10500)},
    CatalogueEntry{"1.0.10.29.0.255", "Block Export kVAh", level(3, 0, 700)},
    CatalogueEntry{"1.0.5.29.0.255", "Block kvarh Q1", level(3, 0, 2500)},
    CatalogueEntry{"1.0.6.29.0.255", "Block kvarh Q2", level(3, 0, 150)},
    CatalogueEntry{"1.0.7.29.0.255", "Block kvarh Q3", level(3, 0, 150)},
    CatalogueEntry{"1.0.8.29.0.255", "Block kvarh Q4", level(3, 0, 1200)},
    CatalogueEntry{"1.0.32.27.0.255", "Avg. Voltage L1", level(2, 22400, 24300)},
    CatalogueEntry{"1.0.52.27.0.255", "Avg. Voltage L2", level(2, 22400, 24300)},
    CatalogueEntry{"1.0.72.27.0.255", "Avg. Voltage L3", level(2, 22400, 24300)},
    CatalogueEntry{"1.0.31.27.0.255", "Avg. Current L1", level(3, 200, 40000)},
    CatalogueEntry{"1.0.51.27.0.255", "Avg. Current L2", level(3, 200, 40000)},
    CatalogueEntry{"1.0.71.27.0.255", "Avg. Current L3", level(3, 200, 40000)},
    CatalogueEntry{"1.0.14.27.0.255", "Avg. Frequency", level(2, 4990, 5010)},
};

// Instantaneous readings: the meter's last values.
constexpr std::array kInstantaneous = {
    CatalogueEntry{kClockCode, "Meter Date and Time", clock()},
    CatalogueEntry{"1.0.32.7.0.255", "Voltage L1", level(2, 22400, 24300)},
    CatalogueEntry{"1.0.52.7.0.255", "Voltage L2", level(2, 22400, 24300)},
    CatalogueEntry{"1.0.72.7.0.255", "Voltage L3", level(2, 22400, 24300)},
    CatalogueEntry{"1.0.31.7.0.255", "Current L1", level(3, 200, 40000)},
    CatalogueEntry{"1.0.51.7.0.255", "Current L2", level(3, 200, 40000)},
    CatalogueEntry{"1.0.71.7.0.255", "Current L3", level(3, 200, 40000)},
    CatalogueEntry{"1.0.91.7.0.255", "Neutral Current", level(3, 0, 5000)},
    CatalogueEntry{"1.0.33.7.0.255", "Power Factor L1", level(3, 820, 999)},
    CatalogueEntry{"1.0.53.7.0.255", "Power Factor L2", level(3, 820, 999)},
    CatalogueEntry{"1.0.73.7.0.255", "Power Factor L3", level(3, 820, 999)},
    CatalogueEntry{"1.0.13.7.0.255", "Power Factor", level(3, 820, 999)},
    CatalogueEntry{"1.0.14.7.0.255", "Frequency", level(2, 4990, 5010)},
    CatalogueEntry{"1.0.1.7.0.255", "Active Power kW", level(3, 100, 27000)},
    CatalogueEntry{"1.0.3.7.0.255", "Reactive Power kvar", level(3, 0, 9000)},
    CatalogueEntry{"1.0.9.7.0.255", "Apparent Power kVA", level(3, 120, 29000)},
    CatalogueEntry{"1.0.1.8.0.255", "Cum. Import kWh", kImportKwh},
    CatalogueEntry{"1.0.2.8.0.255", "Cum. Export kWh", kExportKwh},
    CatalogueEntry{"1.0.9.8.0.255", "Cum. Import kVAh", kImportKvah},
    CatalogueEntry{"1.0.1.6.0.255", "MD kW", level(3, 1500, 25000)},
    CatalogueEntry{"1.0.9.6.0.255", "MD kVA", level(3, 1700, 28000)},
    CatalogueEntry{"0.0.94.91.14.255", "Cum. Power On Duration (min)", kPowerOnMinutes},
    CatalogueEntry{"0.0.94.91.0.255", "Tamper Count", kTamperCount},
    CatalogueEntry{"0.0.0.1.0.255", "Billing Count", kBillingCount},
};

}  // namespace

std::span<const CatalogueEntry> profile_catalogue(ProfileKind kind) {
    switch (kind) {
    case ProfileKind::billing: return kBilling;
    case ProfileKind::daily: return kDaily;
    case ProfileKind::event: return kEvent;
    case ProfileKind::load_survey: return kLoadSurvey;
    }
    return {};
}

std::span<const CatalogueEntry> instantaneous_catalogue() { return kInstantaneous; }

Column column_at(std::span<const CatalogueEntry> catalogue, std::size_t index) {
    if (index < catalogue.size()) {
        const CatalogueEntry &entry = catalogue[index];
        return {std::string(entry.obis), std::string(entry.name), entry.shape};
    }
    // Group 128 of value group C is manufacturer-specific, so these codes
    // can't be mistaken for a standard register. Columns stop at 255, so
    // the number always fits value group E.
    const std::size_t extra = index - catalogue.size() + 1;
    return {"1.0.128.0." + std::to_string(extra) + ".255", "Extra Param " + std::to_string(extra),
            level(2, 0, 99999)};
}

}  // namespace dcu::sim
