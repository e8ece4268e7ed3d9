// Where a simulated unit is written: the store records of the meter-reading
// and modem processes, the data tree, and the web side's selection files.
// Each writer reports its own failure on standard error and returns false.
#pragma once

#include <string>
#include <string_view>

#include "common/store.hpp"
#include "sim/unit_model.hpp"

namespace dcu::sim {

// Serial numbers, instantaneous readings, statuses, on-demand file names and
// the modem's record, over a connection that stands.
bool write_store_records(store::Connection &store, const UnitModel &unit);

// The meter directories under the data root, each rewritten from scratch;
// the directories of positions the unit does not have are removed.
bool write_data_tree(const UnitModel &unit);

// The five user_*_obis_det.json files under the web root.
bool write_selection_files(const UnitModel &unit);

// text as a JSON string, quotes included, escaped as the answers escape values.
std::string json_string(std::string_view text);

}  // namespace dcu::sim
