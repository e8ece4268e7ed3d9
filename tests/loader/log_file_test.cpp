// cfgload's log (what its dbg_log writes through): the line it writes, where
// it writes it (under DCU_ROOT), its rotation past the size cap, and its
// fallback when the log can't be written.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <regex>

#include "loader/log_file.hpp"
#include "tests/loader/fixtures.hpp"
#include "tests/support/temp_dir.hpp"

namespace {

namespace fs = std::filesystem;
namespace fx = dcu::test::loader;

// A line of cfgload's log, to the file its debug_file_name names.
[[gnu::format(printf, 2, 3)]] void cfgload_log(int level, const char *format, ...) {
    va_list args;
    va_start(args, format);
    dcu::loader::write_log_line("/usr/tev/log/cfgload.log", level, format, args);
    va_end(args);
}

class DebugLog : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("DCU_ROOT", root.path().c_str(), 1);
        fs::create_directories(root / "/usr/tev/log");
    }
    void TearDown() override { ::unsetenv("DCU_ROOT"); }
    fs::path log() const { return root / "/usr/tev/log/cfgload.log"; }

    dcu::test::TempDir root;
};

TEST_F(DebugLog, AppendsStampedLevelledLinesUnderTheRoot) {
    cfgload_log(0, "%-20s : Trying to connect on Redis Server : %s with port : %d\n", "redis_init()", "127.0.0.1", 6379);
    cfgload_log(4, "%-25s : serial number %s not found", "find_ser_num()", "SN01");  // no line end of its own
    const std::string long_text(5000, 'x');
    cfgload_log(0, "%s\n", long_text.c_str());

    const std::string content = dcu::test::read_file(log());
    const std::regex expected(
        "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d L0 redis_init\\(\\)         : Trying to connect on Redis Server : "
        "127\\.0\\.0\\.1 with port : 6379\n"
        "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d L4 find_ser_num\\(\\)            : serial number SN01 not found\n"
        "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d L0 x{5000}\n");
    EXPECT_TRUE(std::regex_match(content, expected)) << content.substr(0, 300);
}

TEST_F(DebugLog, RotatesToOneOlderFileBeforePassingTheCap) {
    const std::string almost_full(dcu::loader::kLogSizeCap - 10, 'o');
    dcu::test::write_file(log(), almost_full);
    dcu::test::write_file(log().string() + ".1", "the oldest lines\n");

    cfgload_log(0, "%s\n", "a line that does not fit in ten bytes");
    EXPECT_EQ(dcu::test::read_file(log().string() + ".1"), almost_full);
    const std::string fresh = dcu::test::read_file(log());
    EXPECT_EQ(fresh.substr(fresh.find(" L0 ")), " L0 a line that does not fit in ten bytes\n");

    // Below the cap, lines are appended.
    cfgload_log(0, "%s\n", "next");
    EXPECT_EQ(dcu::test::read_file(log().string() + ".1"), almost_full);
    EXPECT_NE(dcu::test::read_file(log()).find(" L0 next\n"), std::string::npos);
}

TEST_F(DebugLog, WritesToStandardErrorWhenTheLogCannotBeOpened) {
    fs::remove_all(root / "/usr/tev/log");
    fx::CapturedOutput err(2);
    cfgload_log(0, "%-20s : Failed to initilised Redis Server\n", "main()");
    const std::string text = err.finish();
    EXPECT_NE(text.find(" L0 main()               : Failed to initilised Redis Server\n"), std::string::npos) << text;
    EXPECT_FALSE(fs::exists(log()));
}

}  // namespace
