// Answers cut short for want of room keep their shape: at every capacity,
// the profile body has all its members, its lists hold whole entries only,
// and its counts are what the lists hold.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "reqhandlers/column_selection.hpp"
#include "reqhandlers/data_file.hpp"
#include "reqhandlers/profile_answer.hpp"
#include "tests/support/answer_checks.hpp"

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
    dcu::data_file::DataFile file;
    file.assign(header + "\n" + record + "\n" + record + "\n");
    const auto selected = dcu::columns::select(file.columns(), entries);
    const dcu::profile::BodyShape shape{"SN01", nullptr, "BILL_DATA"};
    const dcu::profile::ProfileData data{file.records(), selected, entries};

    for (std::size_t capacity = 300; capacity < 900; ++capacity) {
        SCOPED_TRACE("capacity " + std::to_string(capacity));
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

}  // namespace
