// The data-file reader and the column selector, on their own.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "reqhandlers/column_selection.hpp"
#include "reqhandlers/data_file.hpp"
#include "tests/support/temp_dir.hpp"

namespace {

using dcu::data_file::DataFile;
using Views = std::vector<std::string_view>;

TEST(DataFileLines, WholeLinesWithoutTheirEnds) {
    struct Case {
        const char *name;
        std::string text;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"empty text", "", {}},
        {"lone line end", "\n", {""}},
        {"final line end adds no line", "h\na\n", {"h", "a"}},
        {"last line without its end", "h\na", {"h", "a"}},
        {"carriage returns", "h1\th2\r\na1\ta2\r\n", {"h1\th2", "a1\ta2"}},
        {"empty line inside", "h\n\nb\n", {"h", "", "b"}},
        {"carriage return inside a value stays", "a\rb\n", {"a\rb"}},
        {"long line stays one", std::string(600, 'x') + "\ny\n", {std::string(600, 'x'), "y"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const Views lines = dcu::data_file::split_lines(c.text);
        EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.end()), c.lines);
    }
}

TEST(DataFileValues, SplitAtEveryTab) {
    struct Case {
        std::string_view line;
        Views values;
    };
    const Case cases[] = {
        {"", {""}},
        {"a", {"a"}},
        {"a\tb\tc", {"a", "b", "c"}},
        {"\ta\t", {"", "a", ""}},
        {"a b\t\"q\"", {"a b", "\"q\""}},
    };
    Views values{"stale"};
    for (const auto &c : cases) {
        dcu::data_file::split_values(c.line, values);
        EXPECT_EQ(values, c.values) << c.line;
    }
}

TEST(DataFileRead, HeaderRecordsAndLineCountFromOneRead) {
    dcu::test::TempDir dir;
    const auto path = dir / "billing";
    dcu::test::write_file(path, "code-1\tcode-2\r\na1\ta2\r\nb1\tb2");
    DataFile file;
    ASSERT_TRUE(file.read(path.string()));
    EXPECT_EQ(file.columns(), (Views{"code-1", "code-2"}));
    EXPECT_EQ(Views(file.records().begin(), file.records().end()), (Views{"a1\ta2", "b1\tb2"}));
    EXPECT_EQ(file.line_count(), 3u);

    // Reading again replaces everything, also when the second read fails.
    dcu::test::write_file(path, "");
    ASSERT_TRUE(file.read(path.string()));
    EXPECT_TRUE(file.columns().empty());
    EXPECT_TRUE(file.records().empty());
    EXPECT_EQ(file.line_count(), 0u);
}

TEST(DataFileRead, FailuresSayWhy) {
    dcu::test::TempDir dir;
    DataFile file;
    file.assign("h\na\n");
    errno = 0;
    EXPECT_FALSE(file.read((dir / "missing").string()));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(file.line_count(), 0u);
    errno = 0;
    EXPECT_FALSE(file.read(dir.path().string()));  // a directory opens but can't be read
    EXPECT_EQ(errno, EISDIR);
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
