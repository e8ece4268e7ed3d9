// What the page reads of the meters' data files itself: the header line
// (the codes a user can select) and the clock of the last record (how fresh
// a meter's data is). Files are opened as the handlers open them: regular
// files inside the data tree only, never blocking.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dcu::web::data_files {

// The OBIS code of the clock, the column that stamps each record.
inline constexpr std::string_view kClockCode = "0.0.1.0.0.255";

// Names longer than this are no code a selection can hold: they are given
// as empty names, which keep their column's place.
inline constexpr std::size_t kLongestName = 31;
// Columns beyond this are not read.
inline constexpr std::size_t kMostColumns = 1024;

// The column names of the header line of the file at tree_path (under the
// data root); empty when it can't be read or is empty. Only the start of
// the file is read, in a small piece.
std::vector<std::string> header_names(const std::string &tree_path);

// The clock value of the file's last record, read from the end of the file;
// nothing when the file has no clock column, no record, or a last line too
// long to be a record.
std::optional<std::string> last_record_time(const std::string &tree_path);

}  // namespace dcu::web::data_files
