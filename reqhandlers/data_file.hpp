// The data tree of the unit's meter-reading process and the format of its
// files.
//
// Under the data root, one directory per meter, meter_id_<n> with
// n = port * 5 + meter, holds the meter's profiles: "billing",
// "dp_<MM>_<YYYY>" (midnight values of one month), "event_<type>" and the
// load-survey files. Every profile file is tab-separated text: a header line
// of column names (the OBIS codes of the parameters), then one record per
// line with the values in header order.
//
// A file is opened once per answer and read in bounded pieces, so that an
// answer costs memory by what it holds, never by what the file holds: the
// header is matched against the selection as it streams by (only the
// selected columns' places are kept), and a record keeps only its selected
// values, no more of them than the answer could still hold. Reading stops
// where the answer is full. Lines and values lose their line end ("\n" or
// "\r\n"), so that the last column is selectable like any other.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "reqhandlers/column_selection.hpp"
#include "reqhandlers/line_scanner.hpp"
#include "reqhandlers/selection.hpp"

namespace dcu::data_file {

// "meter_id_<number>", the name of a meter's directory.
std::string meter_directory_name(int meter_number);

// The path of a meter's directory as this process names it.
std::string meter_directory_path(int meter_number);

// The header line, reduced to what an answer uses.
struct Header {
    bool present = false;     // false for an empty file
    std::size_t columns = 0;  // every column of the header line
    std::vector<columns::SelectedColumn> selected;
};

// One data file, read once, front to back.
class DataFile {
public:
    DataFile() = default;
    DataFile(const DataFile &) = delete;
    DataFile &operator=(const DataFile &) = delete;

    // Opens tree_path (relative to the data root) as data_tree::open_file
    // does. False, with errno telling why, when it can't be opened; the file
    // then holds nothing.
    bool open(std::string_view tree_path);
    // Takes text as the file's content, read piece_size bytes at a time.
    void assign(std::string text, std::size_t piece_size = LineScanner::kPieceSize);

    // Reads the header line and selects its columns for the entries.
    Header read_header(std::span<const selection::Entry> entries);

    // The records from here to the end (lines after the header), counted
    // without keeping any; reading then goes on from here.
    std::size_t count_records() { return scanner_.count_lines(); }

    enum class Record {
        kept,       // values hold the record's selected values
        too_large,  // its selected values alone are more than the room given
        none,       // no record is left
    };
    // Reads the next record and keeps the values of columns (header indexes,
    // ascending) in values, which point into this object until the next
    // call. A line shorter than the header has empty values for the missing
    // columns. No more than room + 1 bytes of values are kept: a record
    // whose values exceed room can't fit an answer that has room bytes left,
    // and is only reported too_large (values then hold that much of it).
    Record next_record(std::span<const std::size_t> columns, std::size_t room, std::vector<std::string_view> &values);

    // The values of a line read by the scanner itself (plain_line), as
    // next_record keeps them; valid until the next line is read.
    Record split_line(std::string_view line, std::span<const std::size_t> columns, std::size_t room,
                      std::vector<std::string_view> &values) {
        return split_record(line, columns, room, values);
    }

    // The lines themselves, for visitors of their own (see LineScanner).
    LineScanner &scanner() noexcept { return scanner_; }
    // errno of a read that failed midway (0: none).
    int read_error() const noexcept { return scanner_.error(); }

private:
    // A record whose line lies whole in what was read: its values are only pointed at.
    Record split_record(std::string_view line, std::span<const std::size_t> columns, std::size_t room,
                        std::vector<std::string_view> &values);

    LineScanner scanner_;
    std::string copied_;  // the selected values of the last record, when it ran across pieces
    std::vector<std::size_t> value_ends_;
    ValueEdges value_edges_;  // where a whole line's values start
};

}  // namespace dcu::data_file
