// Which columns of a data file an answer carries: those whose name a
// selection entry names, in the order of the file's header (whatever the
// order of the selection), each named by the first entry that matches it.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

#include "reqhandlers/selection.hpp"

namespace dcu::columns {

struct SelectedColumn {
    std::size_t column;  // index in the header
    std::size_t entry;   // index of the first selection entry whose obis is the column's name
};

// A column is selected at most once; a repeated header name is selected at
// each place it stands. Entries that match no column are ignored; an entry
// with an empty obis matches nothing.
std::vector<SelectedColumn> select(std::span<const std::string_view> header,
                                   std::span<const selection::Entry> entries);

}  // namespace dcu::columns
