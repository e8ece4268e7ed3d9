// The data-file reader and the column selector, on their own: lines and
// values whatever the pieces the file is read in, the header matched as it
// streams by, records kept within the answer's room.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "common/unique_fd.hpp"
#include "reqhandlers/column_selection.hpp"
#include "reqhandlers/data_file.hpp"
#include "reqhandlers/line_scanner.hpp"
#include "tests/support/temp_dir.hpp"

namespace {

using dcu::data_file::DataFile;
using dcu::data_file::LineScanner;
using dcu::data_file::Want;
using Views = std::vector<std::string_view>;
using Lines = std::vector<std::vector<std::string>>;

// Every value of every line, as the scanner hands them out.
class AllValues {
public:
    Want want(std::size_t) {
        line_.emplace_back();
        return Want::value;
    }
    void value(std::string_view bytes) { line_.back() = bytes; }
    void piece(std::string_view bytes) { line_.back().append(bytes); }
    bool enough() const { return false; }
    void value_end() {}
    std::vector<std::string> take() { return std::exchange(line_, {}); }

private:
    std::vector<std::string> line_;
};

Lines scan_all(const std::string &text, std::size_t piece_size) {
    LineScanner scanner;
    scanner.read_text(text, piece_size);
    Lines lines;
    AllValues visitor;
    while (scanner.scan_line(visitor)) lines.push_back(visitor.take());
    return lines;
}

// Piece sizes that put every boundary of a short text between pieces.
constexpr std::size_t kPieceSizes[] = {1, 2, 3, 4, 5, 7, 8, 9, 16, LineScanner::kPieceSize};

TEST(LineScanner, WholeLinesAndValuesAtEveryPieceSize) {
    struct Case {
        const char *name;
        std::string text;
        Lines lines;
    };
    const std::string long_value(600, 'x');
    const Case cases[] = {
        {"empty text", "", {}},
        {"lone line end", "\n", {{""}}},
        {"final line end adds no line", "h\na\n", {{"h"}, {"a"}}},
        {"last line without its end", "h\na", {{"h"}, {"a"}}},
        {"carriage returns", "h1\th2\r\na1\ta2\r\n", {{"h1", "h2"}, {"a1", "a2"}}},
        {"empty line inside", "h\n\nb\n", {{"h"}, {""}, {"b"}}},
        {"empty line with CR-LF", "a\tb\r\n\r\n", {{"a", "b"}, {""}}},
        {"carriage return inside a value stays", "a\rb\n", {{"a\rb"}}},
        {"carriage return before a tab stays", "x\r\ty\n", {{"x\r", "y"}}},
        {"only the last carriage return is the line end's", "a\r\r\n", {{"a\r"}}},
        {"a last line keeps its carriage return", "h\na\r", {{"h"}, {"a\r"}}},
        {"empty values", "\ta\t\n", {{"", "a", ""}}},
        {"long line stays one", long_value + "\t" + long_value + "\ny\n", {{long_value, long_value}, {"y"}}},
        {"NUL bytes are bytes", std::string("a\0b\tc\n", 6), {{std::string("a\0b", 3), "c"}}},
    };
    for (const auto &c : cases) {
        for (const std::size_t piece : kPieceSizes) {
            SCOPED_TRACE(std::string(c.name) + ", pieces of " + std::to_string(piece));
            EXPECT_EQ(scan_all(c.text, piece), c.lines);
        }
    }
}

TEST(LineScanner, CountsTheLinesLeftAndComesBack) {
    struct Case {
        std::string text;
        std::size_t lines;
    };
    const Case cases[] = {
        {"", 0}, {"\n", 1}, {"h\na\nb\n", 3}, {"h\na\nb", 3}, {"h\r\n\r\n\r\n", 3}, {std::string(1000, '\n'), 1000},
    };
    for (const auto &c : cases) {
        for (const std::size_t piece : kPieceSizes) {
            SCOPED_TRACE(std::to_string(c.lines) + " lines, pieces of " + std::to_string(piece));
            LineScanner scanner;
            scanner.read_text(c.text, piece);
            AllValues visitor;
            if (c.lines == 0) {
                EXPECT_EQ(scanner.count_lines(), 0u);
                EXPECT_FALSE(scanner.scan_line(visitor));
                continue;
            }
            ASSERT_TRUE(scanner.scan_line(visitor));
            const std::vector<std::string> first = visitor.take();
            EXPECT_EQ(scanner.count_lines(), c.lines - 1);
            // The count leaves the place where it started: the same lines follow.
            const Lines all = scan_all(c.text, piece);
            Lines rest;
            while (scanner.scan_line(visitor)) rest.push_back(visitor.take());
            EXPECT_EQ(rest, Lines(all.begin() + 1, all.end()));
        }
    }
}

TEST(DataFileHeader, ColumnsAndSelectionAsTheHeaderStreamsBy) {
    using dcu::selection::Entry;
    struct Case {
        const char *name;
        std::string file;
        std::vector<Entry> entries;
        bool present;
        std::size_t columns;
        std::vector<std::pair<std::size_t, std::size_t>> selected;  // column, entry
    };
    const std::string long_name(100000, 'c');
    const Case cases[] = {
        {"empty file", "", {{"a", "A"}}, false, 0, {}},
        {"empty header line", "\nx\n", {{"a", "A"}}, true, 1, {}},
        {"last name loses its line end", "a\tlast\r\n1\t2\r\n", {{"last", "L"}}, true, 2, {{1, 0}}},
        {"header order, first matching entry", "code-1\tcode-2\tcode-3\n", {{"code-3", "3"}, {"code-1", "1"}}, true, 3,
         {{0, 1}, {2, 0}}},
        {"a name longer than every obis matches none", long_name + "\tc\n", {{"c", "C"}, {long_name + "x", "L"}}, true,
         2, {{1, 0}}},
        {"a long name equal to an obis matches", long_name + "\tc\n", {{long_name, "L"}}, true, 2, {{0, 0}}},
        {"a name that only starts like an obis", "code-10\tcode-1\n", {{"code-1", "C"}}, true, 2, {{1, 0}}},
    };
    for (const auto &c : cases) {
        for (const std::size_t piece : {std::size_t{3}, LineScanner::kPieceSize}) {
            SCOPED_TRACE(std::string(c.name) + ", pieces of " + std::to_string(piece));
            DataFile file;
            file.assign(c.file, piece);
            const auto header = file.read_header(c.entries);
            EXPECT_EQ(header.present, c.present);
            EXPECT_EQ(header.columns, c.columns);
            std::vector<std::pair<std::size_t, std::size_t>> got;
            for (const auto &s : header.selected) got.emplace_back(s.column, s.entry);
            EXPECT_EQ(got, c.selected);
        }
    }
}

TEST(DataFileHeader, NoMoreColumnsSelectedThanAnAnswerCouldName) {
    std::string header;
    for (std::size_t i = 0; i < dcu::columns::kMostSelected + 10; ++i) header += "c\t";
    DataFile file;
    file.assign(header + "\n");
    const std::vector<dcu::selection::Entry> entries = {{"c", "C"}};
    const auto read = file.read_header(entries);
    EXPECT_EQ(read.columns, dcu::columns::kMostSelected + 11);
    ASSERT_EQ(read.selected.size(), dcu::columns::kMostSelected);
    EXPECT_EQ(read.selected.back().column, dcu::columns::kMostSelected - 1);
}

TEST(DataFileRecords, SelectedValuesWithinTheRoom) {
    struct Case {
        const char *name;
        std::string record;
        std::vector<std::size_t> columns;
        std::size_t room;
        DataFile::Record result;
        Views values;  // kept: the values; too_large: not compared
    };
    const std::string big(5000, 'B');
    const Case cases[] = {
        {"chosen columns only", "a\tb\tc\td", {0, 2}, 100, DataFile::Record::kept, {"a", "c"}},
        {"short line: empty values", "a", {0, 2, 3}, 100, DataFile::Record::kept, {"a", "", ""}},
        {"empty line", "", {0, 1}, 100, DataFile::Record::kept, {"", ""}},
        {"last value loses its line end", "a\tz", {1}, 100, DataFile::Record::kept, {"z"}},
        {"no column chosen", "a\tb", {}, 100, DataFile::Record::kept, {}},
        {"values that fill the room exactly", "ab\tcd", {0, 1}, 4, DataFile::Record::kept, {"ab", "cd"}},
        {"one byte more than the room", "ab\tcde", {0, 1}, 4, DataFile::Record::too_large, {}},
        {"a long unchosen value costs nothing", big + "\tv", {1}, 10, DataFile::Record::kept, {"v"}},
        {"a long chosen value", "v\t" + big, {1}, 100, DataFile::Record::too_large, {}},
    };
    for (const auto &c : cases) {
        for (const std::size_t piece : {std::size_t{1}, std::size_t{5}, LineScanner::kPieceSize}) {
            SCOPED_TRACE(std::string(c.name) + ", pieces of " + std::to_string(piece));
            DataFile file;
            file.assign(c.record + "\r\nnext\n", piece);
            Views values{"stale"};
            EXPECT_EQ(file.next_record(c.columns, c.room, values), c.result);
            if (c.result == DataFile::Record::kept) {
                EXPECT_EQ(values, c.values);
            }
            std::size_t kept = 0;
            for (const auto value : values) kept += value.size();
            // Never more than one byte beyond the room is kept.
            EXPECT_LE(kept, c.room + 1);
            // The next record starts where this one ended.
            EXPECT_EQ(file.next_record(std::vector<std::size_t>{0}, 100, values), DataFile::Record::kept);
            EXPECT_EQ(values, Views{"next"});
            EXPECT_EQ(file.next_record(std::vector<std::size_t>{0}, 100, values), DataFile::Record::none);
        }
    }
}

// A sparse file's holes read as zeros: stepped over where their bytes are
// not wanted, read where they are.
TEST(DataFileSparse, HolesAreZerosWhetherReadOrSteppedOver) {
    dcu::test::TempDir unit;
    ::setenv("DCU_ROOT", unit.path().c_str(), 1);
    const std::filesystem::path data = unit / "/usr/tev/data/DlmsData";
    std::filesystem::create_directories(data);
    // Writes the parts at their offsets; what lies between them is a hole.
    const auto sparse = [&](const char *name, const std::vector<std::pair<off_t, std::string>> &parts, off_t size) {
        const dcu::UniqueFd fd(::open((data / name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
        ASSERT_TRUE(fd);
        for (const auto &[offset, bytes] : parts)
            ASSERT_EQ(::pwrite(fd.get(), bytes.data(), bytes.size(), offset), static_cast<ssize_t>(bytes.size()));
        ASSERT_EQ(::ftruncate(fd.get(), size), 0);
    };
    constexpr off_t kHole = 8 << 20;
    const std::vector<dcu::selection::Entry> entries = {{"c0", "C0"}, {"c2", "C2"}};
    const std::vector<std::size_t> first_and_third = {0, 2};
    Views values;

    // In a header name and in an unwanted value.
    sparse("skipped", {{0, "c0\t"}, {kHole, "\tc2\na\t"}, {2 * kHole, "\tb\nnext\n"}}, 2 * kHole + 8);
    DataFile skipped;
    ASSERT_TRUE(skipped.open("skipped"));
    const auto header = skipped.read_header(entries);
    EXPECT_EQ(header.columns, 3u);
    ASSERT_EQ(header.selected.size(), 2u);
    EXPECT_EQ(header.selected[1].column, 2u);
    EXPECT_EQ(skipped.count_records(), 2u);
    EXPECT_EQ(skipped.next_record(first_and_third, 1000, values), DataFile::Record::kept);
    EXPECT_EQ(values, (Views{"a", "b"}));
    EXPECT_EQ(skipped.next_record(first_and_third, 1000, values), DataFile::Record::kept);
    EXPECT_EQ(values, (Views{"next", ""}));
    EXPECT_EQ(skipped.next_record(first_and_third, 1000, values), DataFile::Record::none);

    // A hole to the end of the file: the last line, without a line end.
    sparse("trailing", {{0, "c0\nv\t"}}, kHole);
    DataFile trailing;
    ASSERT_TRUE(trailing.open("trailing"));
    trailing.read_header(entries);
    EXPECT_EQ(trailing.count_records(), 1u);
    EXPECT_EQ(trailing.next_record(std::vector<std::size_t>{0}, 1000, values), DataFile::Record::kept);
    EXPECT_EQ(values, Views{"v"});
    EXPECT_EQ(trailing.next_record(std::vector<std::size_t>{0}, 1000, values), DataFile::Record::none);

    // In a wanted value, within the room: its zeros are the value.
    sparse("wanted", {{0, "c0\nv"}, {kHole, "w\n"}}, kHole + 2);
    DataFile wanted;
    ASSERT_TRUE(wanted.open("wanted"));
    wanted.read_header(entries);
    EXPECT_EQ(wanted.next_record(std::vector<std::size_t>{0}, 2 * kHole, values), DataFile::Record::kept);
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(values[0], "v" + std::string(kHole - 4, '\0') + "w");
    ::unsetenv("DCU_ROOT");
}

TEST(ColumnSelection, HeaderOrderFirstMatchingEntry) {
    using dcu::selection::Entry;
    struct Case {
        const char *name;
        Views header;
        std::vector<Entry> entries;
        std::vector<std::pair<std::size_t, std::size_t>> selected;  // column, entry
    };
    const Case cases[] = {
        {"selection order is not header order",
         {"code-1", "code-2", "code-3", "code-4"},
         {{"code-3", "Name 3"}, {"code-1", "Name 1"}},
         {{0, 1}, {2, 0}}},
        {"duplicate obis: named by the first entry", {"a", "b"}, {{"b", "first"}, {"b", "second"}}, {{1, 0}}},
        {"repeated header name: selected at each place", {"a", "x", "a"}, {{"a", "A"}}, {{0, 0}, {2, 0}}},
        {"empty obis matches an empty column name", {"", "a"}, {{"", "nothing"}, {"a", "A"}}, {{1, 1}}},
        {"unmatched entries are ignored", {"a"}, {{"z", "Z"}}, {}},
        {"no header", {}, {{"a", "A"}}, {}},
        {"exact bytes only", {"code-1 ", "Code-1"}, {{"code-1", "A"}}, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const auto selected = dcu::columns::select(c.header, c.entries);
        std::vector<std::pair<std::size_t, std::size_t>> got;
        for (const auto &s : selected) got.emplace_back(s.column, s.entry);
        EXPECT_EQ(got, c.selected);
    }
}

}  // namespace
