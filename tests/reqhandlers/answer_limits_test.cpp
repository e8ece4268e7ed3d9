// Answers cut short for want of room keep their shape: at every capacity,
// the profile body has all its members, its lists hold whole entries only,
// and its counts are what the lists hold; a selection file appended to the
// host's text is appended whole or not at all.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "dcu/reqhandlers.h"
#include "reqhandlers/data_file.hpp"
#include "reqhandlers/profile_answer.hpp"
#include "tests/support/answer_checks.hpp"
#include "tests/support/temp_dir.hpp"

namespace {

// Display names that fill the text must leave room for the data list: at
// every capacity from the bare members to the whole body, BILL_DATA is there
// and the counts agree. (A fuzz finding: the names took the data list's room.)
TEST(AnswerLimits, EveryCapacityKeepsEveryMemberOfAProfileBody) {
    std::vector<dcu::selection::Entry> entries;
    std::string header, record;
    for (int i = 0; i < 12; ++i) {
        entries.push_back({"c" + std::to_string(i), "Name " + std::string(static_cast<std::size_t>(i % 4) * 5, 'n')});
        header += (i ? "\t" : "") + entries.back().obis;
        record += (i ? "\t" : "") + std::to_string(i);
    }
    const std::string content = header + "\n" + record + "\n" + record + "\n";
    const dcu::profile::BodyShape shape{"SN01", nullptr, "BILL_DATA"};

    for (std::size_t capacity = 300; capacity < 900; ++capacity) {
        SCOPED_TRACE("capacity " + std::to_string(capacity));
        dcu::data_file::DataFile file;
        file.assign(content);
        const auto selected = file.read_header(entries).selected;
        const dcu::profile::ProfileData data{&file, selected, entries};
        auto buffer = std::make_unique<char[]>(capacity);
        dcu::answer::TextBuilder text({buffer.get(), capacity});
        text.member("TYPE", "OD_BILLING");
        text.member("SEQ_NUM", 7);
        text.member("CMD_STATUS", "FAILURE");
        ASSERT_TRUE(text.open_member("DATA", dcu::answer::layout::kObject));
        ::testing::internal::CaptureStdout();  // the names' echo
        dcu::profile::write_body(text, shape, data);
        ::testing::internal::GetCapturedStdout();
        const std::string answer(buffer.get(), text.finish());
        EXPECT_EQ(dcu::test::answer_problem(answer), "") << answer;
        for (const char *member : {"DATA.MET_SERNUM", "DATA.NUM_PARAM", "DATA.NUM_ENTRIES"})
            EXPECT_NE(dcu::test::answer_member(answer, member), "") << member << "\n" << answer;
    }
}

// The host's own text in json_text, filled to its end: fill_user_obis_det
// appends a selection file whole or not at all and never writes past
// json_text, even when the host left no NUL; a file far larger than the
// room is appended up to its first NUL, as a smaller one is.
TEST(AnswerLimits, SelectionFileAppendedToAFullHostText) {
    dcu::test::TempDir dir;
    const std::string missing = (dir.path() / "none.json").string();
    const std::string large = (dir.path() / "large.json").string();
    dcu::test::write_file(large, "\"LSParams\":{}" + std::string(1, '\0') + std::string(300000, 'z'));
    struct Case {
        const char *name;
        std::size_t host_text;      // bytes of the host's text before the call
        bool terminated;            // whether the host left a NUL after it
        const std::string *file;
        std::size_t appended;       // bytes appended
    };
    const Case cases[] = {
        {"no room for the empty section", sizeof json_text - 10, true, &missing, 0},
        {"no NUL left by the host", sizeof json_text, false, &missing, 0},
        {"large file, short text", 100, true, &large, 13},
        {"large file, no room", sizeof json_text - 5, true, &large, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::memset(json_text, 'h', c.host_text);
        if (c.terminated) std::memset(json_text + c.host_text, 0, sizeof json_text - c.host_text);
        ::testing::internal::CaptureStdout();
        fill_user_obis_det(c.file->c_str(), "LSParams");
        const std::string out = ::testing::internal::GetCapturedStdout();
        const std::size_t length = ::strnlen(json_text, sizeof json_text);
        EXPECT_EQ(length, c.host_text + c.appended);
        EXPECT_EQ(std::string(json_text, std::min(length, c.host_text)), std::string(c.host_text, 'h'));
        if (c.appended == 0) {
            EXPECT_NE(out.find("json text full"), std::string::npos) << out;
        }
    }
    std::memset(json_text, 0, sizeof json_text);
}

}  // namespace
