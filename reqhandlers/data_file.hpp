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
// A file is read whole, once per answer, so that every count and every
// record of an answer come from the same bytes even while the meter-reading
// process appends to it. Lines and values are kept whole, whatever their
// length, and lose their line end ("\n" or "\r\n") so that the last column
// is selectable like any other.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace dcu::data_file {

// "meter_id_<number>", the name of a meter's directory.
std::string meter_directory_name(int meter_number);

// The path of a meter's directory as this process opens it.
std::string meter_directory_path(int meter_number);

// Splits text into lines without their line ends. A last line without a
// line end is still a line; text that ends with "\n" has no empty line after
// it; an empty line inside the text is a line.
std::vector<std::string_view> split_lines(std::string_view text);

// Splits one line at every tab into out (cleared first). An empty line is
// one empty value. With at_most, only the first at_most values are wanted:
// the rest of the line is left unsplit.
void split_values(std::string_view line, std::vector<std::string_view> &out,
                  std::size_t at_most = static_cast<std::size_t>(-1));

// One data file, read once. The views it hands out point into its own copy
// of the bytes, so it is neither copied nor moved.
class DataFile {
public:
    DataFile() = default;
    DataFile(const DataFile &) = delete;
    DataFile &operator=(const DataFile &) = delete;

    // Reads the whole file at path. False, with errno telling why, when it
    // can't be opened or read; the file then holds nothing.
    bool read(const std::string &path);
    // Takes text as the file's content.
    void assign(std::string text);

    // The header's column names, in header order; none for an empty file.
    const std::vector<std::string_view> &columns() const noexcept { return columns_; }
    // Every line after the header, in file order.
    std::span<const std::string_view> records() const noexcept;
    // Every line, the header included.
    std::size_t line_count() const noexcept { return lines_.size(); }

private:
    void index();

    // The file's bytes, allocated without being cleared first: they are read over at once.
    std::unique_ptr<char[]> bytes_;
    std::size_t size_ = 0;
    std::vector<std::string_view> lines_;
    std::vector<std::string_view> columns_;
};

}  // namespace dcu::data_file
