#include "reqhandlers/data_file.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "common/paths.hpp"
#include "reqhandlers/data_tree.hpp"

namespace dcu::data_file {

std::string meter_directory_name(int meter_number) { return "meter_id_" + std::to_string(meter_number); }

std::string meter_directory_path(int meter_number) {
    return data_tree::named_path(meter_directory_name(meter_number));
}

namespace {

// Selects the header's columns as they stream by. A name longer than the
// longest obis can't match: of it only that much is kept, and then dropped.
class HeaderVisitor {
public:
    explicit HeaderVisitor(std::span<const selection::Entry> entries) : matcher_(entries) {}

    Want want(std::size_t column) {
        columns_ = column + 1;
        name_.clear();
        return Want::value;
    }
    void value(std::string_view name) { select(name); }
    void piece(std::string_view bytes) {
        const std::size_t room = matcher_.longest() + 1 - name_.size();
        name_.append(bytes.substr(0, room));
    }
    bool enough() const noexcept { return name_.size() > matcher_.longest(); }
    void value_end() { select(name_); }

    std::size_t columns() const noexcept { return columns_; }
    std::vector<columns::SelectedColumn> take_selected() { return std::move(selected_); }

private:
    void select(std::string_view name) {
        if (selected_.size() == columns::kMostSelected) return;
        if (const auto entry = matcher_.entry_for(name)) selected_.push_back({columns_ - 1, *entry});
    }

    columns::Matcher matcher_;
    std::string name_;  // at most one byte more than the longest obis
    std::size_t columns_ = 0;
    std::vector<columns::SelectedColumn> selected_;
};

// No more than room + 1 bytes of a record's values are kept: a record whose
// values exceed room can't fit an answer that has room bytes left.
std::size_t keep_limit(std::size_t room) noexcept { return room < SIZE_MAX ? room + 1 : room; }

// Keeps the values of the wanted columns of a record that runs across
// pieces, no more than a limit of bytes, copied. (Those of a line that lies
// whole in the scanner's piece are only pointed at, see split_record.)
class RecordVisitor {
public:
    RecordVisitor(std::span<const std::size_t> columns, std::size_t room, std::vector<std::string_view> &values,
                  std::string &copied, std::vector<std::size_t> &ends)
        : columns_(columns), limit_(keep_limit(room)), values_(values), copied_(copied), ends_(ends) {
        values_.clear();
        copied_.clear();
        ends_.clear();
    }

    Want want(std::size_t column) const {
        if (next_ == columns_.size()) return Want::nothing_more;
        return columns_[next_] == column ? Want::value : Want::skip;
    }
    void value(std::string_view bytes) {
        values_.push_back(bytes.substr(0, take(bytes.size())));
        ++next_;
    }
    void piece(std::string_view bytes) { copied_.append(bytes.substr(0, take(bytes.size()))); }
    bool enough() const noexcept { return kept_ == limit_; }
    void value_end() {
        ends_.push_back(copied_.size());
        ++next_;
    }

    // Once the line is scanned: the values, empty ones for columns the line
    // is too short to hold.
    void finish() {
        std::size_t start = 0;
        for (const std::size_t end : ends_) {
            values_.emplace_back(copied_.data() + start, end - start);
            start = end;
        }
        values_.resize(columns_.size());
    }
    bool too_large() const noexcept { return too_large_ || kept_ == limit_; }

private:
    // How many of size bytes may still be kept.
    std::size_t take(std::size_t size) noexcept {
        const std::size_t allowed = std::min(size, limit_ - kept_);
        too_large_ = too_large_ || allowed < size;
        kept_ += allowed;
        return allowed;
    }

    std::span<const std::size_t> columns_;
    std::size_t limit_;
    std::vector<std::string_view> &values_;
    std::string &copied_;
    std::vector<std::size_t> &ends_;
    std::size_t next_ = 0;
    std::size_t kept_ = 0;
    bool too_large_ = false;
};

}  // namespace

bool DataFile::open(std::string_view tree_path) {
    UniqueFd fd = data_tree::open_file(tree_path);
    if (!fd) {
        const int error = errno;  // resetting the scanner must not change why
        scanner_.read_text({});
        errno = error;
        return false;
    }
    scanner_.read_from(std::move(fd));
    return true;
}

void DataFile::assign(std::string text, std::size_t piece_size) { scanner_.read_text(std::move(text), piece_size); }

Header DataFile::read_header(std::span<const selection::Entry> entries) {
    HeaderVisitor visitor(entries);
    Header header;
    header.present = scanner_.scan_line(visitor);
    header.columns = visitor.columns();
    header.selected = visitor.take_selected();
    return header;
}

DataFile::Record DataFile::next_record(std::span<const std::size_t> columns, std::size_t room,
                                       std::vector<std::string_view> &values) {
    std::string_view line;
    switch (scanner_.whole_line(line)) {
    case LineScanner::Whole::none: return Record::none;
    case LineScanner::Whole::line: return split_record(line, columns, room, values);
    case LineScanner::Whole::pieces: break;
    }
    RecordVisitor visitor(columns, room, values, copied_, value_ends_);
    if (!scanner_.scan_line(visitor)) return Record::none;
    visitor.finish();
    return visitor.too_large() ? Record::too_large : Record::kept;
}

DataFile::Record DataFile::split_record(std::string_view line, std::span<const std::size_t> columns, std::size_t room,
                                        std::vector<std::string_view> &values) {
    // values keeps its size from record to record.
    values.resize(columns.size());
    const Split split = split_wanted(line, columns, values.data(), value_edges_);
    // Empty values for the columns the line is too short to hold, where
    // they too can be read past their ends.
    for (std::size_t i = split.found; i < columns.size(); ++i) values[i] = {line.data() + line.size(), 0};
    const std::size_t limit = keep_limit(room);
    if (split.bytes < limit) return Record::kept;
    // No more of a record that can't fit than when it is copied.
    std::size_t kept = 0;
    for (auto &value : values) {
        value = value.substr(0, std::min(value.size(), limit - kept));
        kept += value.size();
    }
    return Record::too_large;
}

}  // namespace dcu::data_file
