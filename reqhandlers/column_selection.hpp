// Which columns of a data file an answer carries: those whose name a
// selection entry names, in the order of the file's header (whatever the
// order of the selection), each named by the first entry that matches it.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "dcu/reqhandlers.h"
#include "reqhandlers/selection.hpp"

namespace dcu::columns {

struct SelectedColumn {
    std::size_t column;  // index in the header
    std::size_t entry;   // index of the first selection entry whose obis is the column's name
};

// At most this many columns are selected: no answer can name more, each
// display name taking three bytes of json_text at the least ("",).
inline constexpr std::size_t kMostSelected = DCU_JSON_TEXT_SIZE / 3;

// Finds the entry that selects a column by its name. An entry with an empty
// obis matches nothing; of entries with the same obis, the first one counts.
class Matcher {
public:
    explicit Matcher(std::span<const selection::Entry> entries);

    std::optional<std::size_t> entry_for(std::string_view name) const;
    // A column name longer than this matches no entry, so it need not be kept whole.
    std::size_t longest() const noexcept { return longest_; }

private:
    std::unordered_map<std::string_view, std::size_t> first_entry_;
    std::size_t longest_ = 0;
};

// A column is selected at most once; a repeated header name is selected at
// each place it stands (up to kMostSelected columns). Entries that match no
// column are ignored.
std::vector<SelectedColumn> select(std::span<const std::string_view> header,
                                   std::span<const selection::Entry> entries);

}  // namespace dcu::columns
