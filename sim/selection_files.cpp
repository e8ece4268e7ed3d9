// The web side's selection files: the members of one JSON object without its
// outer braces (the readers add them), one member per section, NumParams as
// a JSON string.
#include <cstdio>
#include <filesystem>
#include <span>
#include <string>
#include <system_error>
#include <vector>

#include "common/paths.hpp"
#include "reqhandlers/json_escape.hpp"
#include "sim/output_file.hpp"
#include "sim/writers.hpp"

namespace dcu::sim {

namespace {

struct Section {
    const char *name;
    const std::vector<SelectionEntry> *entries;
};

std::string section_text(const Section &section) {
    std::string text = json_string(section.name) + ":\n{\n";
    text += "\"NumParams\":" + json_string(std::to_string(section.entries->size())) + ",\n";
    text += "\"ObisCodeList\":\n[\n";
    for (std::size_t i = 0; i < section.entries->size(); ++i) {
        const SelectionEntry &entry = (*section.entries)[i];
        text += "{\"obis\":" + json_string(entry.obis) + ",\"assign\":" + json_string(entry.assign) + "}";
        text += i + 1 < section.entries->size() ? ",\n" : "\n";
    }
    text += "]\n}";
    return text;
}

bool write_selection_file(std::string_view unit_path, std::span<const Section> sections) {
    std::string text;
    for (std::size_t i = 0; i < sections.size(); ++i) {
        if (i > 0) text += ",\n";
        text += section_text(sections[i]);
    }
    text += "\n";
    return write_whole_file(paths::on_unit(unit_path), text);
}

}  // namespace

std::string json_string(std::string_view text) { return "\"" + answer::escaped(text) + "\""; }

bool write_selection_files(const UnitModel &unit) {
    const std::filesystem::path web_root = paths::on_unit(paths::kWebRoot);
    std::error_code error;
    std::filesystem::create_directories(web_root, error);
    if (error) {
        std::fprintf(stderr, "metersim: can't create %s: %s\n", web_root.c_str(), error.message().c_str());
        return false;
    }
    const Section bill{"BillParams", &unit.profile(ProfileKind::billing).selection};
    const Section midnight{"MNParams", &unit.profile(ProfileKind::daily).selection};
    const Section event{"EventParams", &unit.profile(ProfileKind::event).selection};
    const Section load_survey{"LSParams", &unit.profile(ProfileKind::load_survey).selection};
    const Section inst{"InstParams", &unit.inst_selection};

    // The on-demand requests read all three sections from the event file;
    // the file-content requests read one section from each per-kind file.
    const Section event_file[] = {bill, midnight, event};
    return write_selection_file(paths::kEventSelection, event_file) &&
           write_selection_file(paths::kBillSelection, std::span(&bill, 1)) &&
           write_selection_file(paths::kDpSelection, std::span(&midnight, 1)) &&
           write_selection_file(paths::kLsSelection, std::span(&load_survey, 1)) &&
           write_selection_file(paths::kInstSelection, std::span(&inst, 1));
}

}  // namespace dcu::sim
