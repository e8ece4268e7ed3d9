// The data tree of the meter-reading process: one directory per meter, and
// in it tab-separated profile files (a header line of OBIS codes, then one
// line of values per record, every line ended by "\n").
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "common/paths.hpp"
#include "sim/output_file.hpp"
#include "sim/writers.hpp"

namespace dcu::sim {

namespace {

namespace fs = std::filesystem;

bool report(const char *what, const fs::path &path, const std::error_code &error) {
    std::fprintf(stderr, "metersim: %s %s: %s\n", what, path.c_str(), error.message().c_str());
    return false;
}

bool write_profile_file(const fs::path &path, const Profile &profile, const ProfileFile &file, const Meter &meter,
                        long records) {
    OutputFile out(path.string());
    std::string &text = out.buffer();
    for (std::size_t c = 0; c < profile.columns.size(); ++c) {
        if (c > 0) text.push_back('\t');
        text += profile.columns[c].obis;
    }
    text.push_back('\n');

    Rng rng(file.seed);
    std::vector<ColumnValues> columns;
    columns.reserve(profile.columns.size());
    for (const Column &column : profile.columns) columns.emplace_back(column, meter.register_seed);
    ScatterState scatter;
    for (long record = 0; record < records; ++record) {
        const Seconds stamp = stamp_of(file.stamps, record, rng, scatter);
        for (std::size_t c = 0; c < columns.size(); ++c) {
            if (c > 0) text.push_back('\t');
            columns[c].append(text, rng, stamp, file.event_type);
        }
        text.push_back('\n');
        out.flush_if_full();
    }
    return out.finish();
}

bool write_meter_directory(const fs::path &dir, const UnitModel &unit, const Meter &meter) {
    std::error_code error;
    if (!fs::create_directory(dir, error) && error) return report("can't create", dir, error);
    if (!fs::create_directory(dir / "od", error) && error) return report("can't create", dir / "od", error);
    for (const ProfileFile &file : meter.files)
        if (!write_profile_file(dir / file.name, unit.profile(file.kind), file, meter, unit.shape.records)) return false;
    // Copies of the billing file: listings with many entries for the benchmarks.
    for (int k = 1; k <= unit.shape.bill_copies; ++k) {
        const fs::path copy = dir / ("billing_" + std::to_string(k));
        if (!fs::copy_file(dir / "billing", copy, fs::copy_options::overwrite_existing, error))
            return report("can't write", copy, error);
    }
    return true;
}

}  // namespace

bool write_data_tree(const UnitModel &unit) {
    const fs::path root = paths::on_unit(paths::kDataRoot);
    std::error_code error;
    fs::create_directories(root, error);
    if (error) return report("can't create", root, error);
    for (int position = 0; position < kSerialPositions; ++position) {
        const fs::path dir = root / ("meter_id_" + std::to_string(position));
        fs::remove_all(dir, error);
        if (error) return report("can't remove", dir, error);
    }
    for (const Meter &meter : unit.meters)
        if (!write_meter_directory(root / meter.dir_name(), unit, meter)) return false;
    return true;
}

}  // namespace dcu::sim
