// Every answer the handler suites sent, the awkward fixtures of the
// robustness suite among them (faults injected into the store, answers cut
// short for want of room, randomised units of awkward bytes), checked
// against its answer schema. The suites' fixture writes them when CTest
// runs the suites (DCU_ANSWER_DUMP_DIR), before this test.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "tests/contract/schema_check.hpp"

namespace {

// Every TYPE the library answers with.
const std::set<std::string> kLibraryTypes = {
    "OD_BILLING",          "OD_MID_NIGHT",          "OD_EVENT",           "OD_INST",
    "GET_METER_SER_LIST",  "GET_EVENT_FILE_CONTENT", "GET_BILL_FILE_CONTENT", "GET_LS_FILE_CONTENT",
    "GET_LS_FILE_LIST",    "GET_EVENT_FILE_LIST",   "GET_DP_FILE_LIST",   "GET_BILL_FILE_LIST",
    "GET_OD_LS_FILE_LIST", "GET_DIR_LIST",          "GET_MODEM_DIAG_MESSAGE", "GET_COMMN_STATUS_MESSAGE",
};

TEST(HandlerSuiteAnswers, EveryAnswerMatchesItsSchema) {
    const std::filesystem::path dir = HANDLER_ANSWERS_DIR;
    if (!std::filesystem::is_directory(dir) || std::filesystem::is_empty(dir))
        GTEST_SKIP() << "no answers in " << dir << ": run the suites through CTest, which has them written there";
    const auto check = dcu::test::check_against_schemas("answers", {dir});
    EXPECT_EQ(check.exit_code, 0) << check.problems.substr(0, 20000);
    std::set<std::string> types;
    std::size_t bad = 0;
    for (const auto &verdict : check.verdicts) {
        types.insert(verdict.schema);
        bad += !verdict.ok;
    }
    EXPECT_EQ(bad, 0u) << "of " << check.verdicts.size() << " answers";
    for (const auto &type : kLibraryTypes) EXPECT_EQ(types.count(type), 1u) << "no " << type << " answer was checked";
}

}  // namespace
