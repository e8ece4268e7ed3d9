#include "web/unit_catalogue.hpp"

#include <algorithm>
#include <set>

#include "common/decimal_text.hpp"
#include "common/store.hpp"
#include "common/unit_keys.hpp"
#include "reqhandlers/meter_lookup.hpp"
#include "web/data_files.hpp"
#include "web/library_answers.hpp"
#include "web/library_host.hpp"

namespace dcu::web {

namespace {

namespace keys = unit_keys;

// A meter reports at most 255 readings (NUM_PARAM is an 8-bit count).
constexpr int kMostReadings = 255;

// The codes of every meter's last readings, in reading order:
// "Port<p>Met<m>inst_info", Obis_1 to Obis_<NUM_PARAM>, one round trip for
// all the meters.
std::vector<std::vector<std::string>> reading_codes(const meters::SerialNumbers &serials) {
    std::vector<std::vector<std::string>> codes;
    store::Pipeline pipeline;
    std::vector<std::size_t> asked;
    for (std::size_t i = 0; i < meters::kPositions; ++i) {
        if (!serials.texts[i]) continue;
        const meters::Position position = meters::position_of(i);
        pipeline.append("HGETALL %s", keys::Key(keys::kInstantReadings, position.port, position.meter).c_str());
        asked.push_back(i);
    }
    for (std::size_t n = 0; n < asked.size(); ++n) {
        const store::Reply reply = pipeline.next();
        std::vector<std::string> meter_codes;
        std::vector<std::pair<std::string, std::string>> fields;
        for (std::size_t e = 0; e + 1 < reply.element_count(); e += 2) {
            const auto field = reply.element_text(e);
            const auto value = reply.element_text(e + 1);
            if (field && value) fields.emplace_back(*field, *value);
        }
        int count = 0;
        for (const auto &[field, value] : fields)
            if (field == keys::kReadingCountField) count = std::clamp(decimal::atoi_value(value), 0, kMostReadings);
        for (int k = 1; k <= count; ++k) {
            const std::string obis_field = keys::Key(keys::kReadingObisField, k).str();
            for (const auto &[field, value] : fields)
                if (field == obis_field && !value.empty() &&
                    std::find(meter_codes.begin(), meter_codes.end(), value) == meter_codes.end())
                    meter_codes.push_back(value);
        }
        codes.push_back(std::move(meter_codes));
    }
    return codes;
}

// Adds one meter's codes (each once).
void add_codes(Catalogue &catalogue, const std::vector<std::string> &of_meter) {
    ++catalogue.meters;
    for (const std::string &obis : of_meter) {
        auto known = std::find_if(catalogue.codes.begin(), catalogue.codes.end(),
                                  [&](const CatalogueCode &code) { return code.obis == obis; });
        if (known == catalogue.codes.end()) catalogue.codes.push_back({obis, 1});
        else ++known->meters;
    }
}

}  // namespace

Catalogue catalogue_of(DataKind kind) {
    Catalogue catalogue;
    if (!store_connected()) return catalogue;
    const library_answers::MeterList list = library_answers::meter_list();
    catalogue.store_reached = list.success;
    if (!list.success) return catalogue;

    if (kind == DataKind::instantaneous) {
        const meters::SerialNumbers serials = meters::read_serial_numbers();
        for (const std::vector<std::string> &codes : reading_codes(serials)) add_codes(catalogue, codes);
        return catalogue;
    }
    for (const std::string &serial : list.serials) {
        std::vector<std::string> ordered;  // this meter's codes, in header order
        std::set<std::string> seen;
        for (const std::string &file : library_answers::data_files(serial, kind))
            for (std::string &name : data_files::header_names(file))
                if (!name.empty() && seen.insert(name).second) ordered.push_back(std::move(name));
        add_codes(catalogue, ordered);
    }
    return catalogue;
}

}  // namespace dcu::web
