// dcuhost's --stdin lines: whole lines of any length split at "\n" or
// "\r\n", lines past the bound kept only up to it and the rest passed over,
// whatever size the pieces come in.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "common/unique_fd.hpp"
#include "host/line_reader.hpp"
#include "tests/support/temp_dir.hpp"

namespace {

using dcu::host::LineReader;
using Line = LineReader::Line;

struct Case {
    std::string input;
    std::vector<std::pair<Line, std::string>> lines;  // what next() gives, before Line::end
};

// Lines of at most 4 bytes.
const Case kCases[] = {
    {"", {}},
    {"\n", {{Line::whole, ""}}},
    {"ab\ncd", {{Line::whole, "ab"}, {Line::whole, "cd"}}},
    {"ab\r\n\r\ncd\r", {{Line::whole, "ab"}, {Line::whole, ""}, {Line::whole, "cd\r"}}},
    {"a\rb\n\r\r\n", {{Line::whole, "a\rb"}, {Line::whole, "\r"}}},
    // At the bound, and just past it (the line end does not count).
    {"abcd\nabcd\r\nabcde\nx\n",
     {{Line::whole, "abcd"}, {Line::whole, "abcd"}, {Line::too_long, "abcde"}, {Line::whole, "x"}}},
    {"abc\r\r\nabcd\r\r\n", {{Line::whole, "abc\r"}, {Line::too_long, "abcd\r"}}},
    {"abcde\r\n", {{Line::too_long, "abcde"}}},
    // Far past it: the rest of the line is passed over, up to its end.
    {"0123456789abcdef\r\nnext\n0123456789",
     {{Line::too_long, "01234"}, {Line::whole, "next"}, {Line::too_long, "01234"}}},
    {std::string("a\0b\n", 4), {{Line::whole, std::string("a\0b", 3)}}},
};

TEST(LineReader, SplitsAtLineEndsAndKeepsLongLinesOnlyUpToTheBound) {
    dcu::test::TempDir dir;
    for (const auto &c : kCases) {
        const auto path = dir / "input";
        dcu::test::write_file(path, c.input);
        // Pieces of every size: a line end, a "\r\n" or the bound falls across two of them.
        for (const std::size_t piece : {1u, 2u, 3u, 5u, 7u, 65536u}) {
            SCOPED_TRACE(testing::PrintToString(c.input) + " in pieces of " + std::to_string(piece));
            dcu::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
            ASSERT_TRUE(fd);
            LineReader reader(fd.get(), 4, piece);
            std::string line;
            for (const auto &[kind, text] : c.lines) {
                ASSERT_EQ(reader.next(&line), kind);
                EXPECT_EQ(line, text);
            }
            EXPECT_EQ(reader.next(&line), Line::end);
            EXPECT_EQ(reader.next(&line), Line::end);
        }
    }
}

TEST(LineReader, ALineOfTenMegabytesKeepsNoMoreThanTheBound) {
    dcu::test::TempDir dir;
    const auto path = dir / "input";
    const std::string long_line(10 << 20, 'x');
    dcu::test::write_file(path, long_line + "\nafter\n");
    dcu::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(fd);
    LineReader reader(fd.get(), 65536);
    std::string line;
    ASSERT_EQ(reader.next(&line), Line::too_long);
    EXPECT_EQ(line, long_line.substr(0, 65537));
    EXPECT_LE(line.capacity(), 2 * 65538u);
    ASSERT_EQ(reader.next(&line), Line::whole);
    EXPECT_EQ(line, "after");
    EXPECT_EQ(reader.next(&line), Line::end);
}

}  // namespace
