// The contract's own files: every schema a draft-07 schema, every example
// of the AsyncAPI document valid against its message's schema, every answer
// and request schema carried by a message of the document; and the status
// schema refusing a state message with a fault a head-end would trip on.
#include <gtest/gtest.h>

#include <string>

#include "tests/contract/schema_check.hpp"
#include "tests/support/temp_dir.hpp"

namespace {

TEST(ContractDocument, SchemasAndTheAsyncApiExamplesAgree) {
    const auto check = dcu::test::check_against_schemas("schemas", {});
    EXPECT_EQ(check.exit_code, 0) << check.problems;
}

struct StateMessage {
    const char *name;
    std::string text;
    bool ok;
};

TEST(ContractDocument, TheStatusSchemaTakesTheStateMessagesOnly) {
    const StateMessage messages[] = {
        {"online", R"({"SER_NUM":"DCU-0001","STATE":"ONLINE","SINCE":"2024-03-28T10:30:00Z","CONNECTION":1})", true},
        {"offline", R"({"SER_NUM":"DCU-0001","STATE":"OFFLINE","SINCE":"2024-03-28T10:30:00Z","CONNECTION":3})", true},
        {"no serial number in the store", R"({"SER_NUM":"","STATE":"ONLINE","SINCE":"2024-03-28T10:30:00Z","CONNECTION":1})",
         true},
        {"CONNECTION as a string", R"({"SER_NUM":"DCU-0001","STATE":"ONLINE","SINCE":"2024-03-28T10:30:00Z","CONNECTION":"1"})",
         false},
        {"no connection yet", R"({"SER_NUM":"DCU-0001","STATE":"ONLINE","SINCE":"2024-03-28T10:30:00Z","CONNECTION":0})", false},
        {"a state of its own", R"({"SER_NUM":"DCU-0001","STATE":"UP","SINCE":"2024-03-28T10:30:00Z","CONNECTION":1})", false},
        {"local time", R"({"SER_NUM":"DCU-0001","STATE":"ONLINE","SINCE":"2024-03-28 10:30:00","CONNECTION":1})", false},
        {"members swapped", R"({"STATE":"ONLINE","SER_NUM":"DCU-0001","SINCE":"2024-03-28T10:30:00Z","CONNECTION":1})", false},
        {"SINCE missing", R"({"SER_NUM":"DCU-0001","STATE":"ONLINE","CONNECTION":1})", false},
    };
    dcu::test::TempDir dir;
    std::string text;
    for (const auto &message : messages) text += message.text + "\n";
    dcu::test::write_file(dir / "states.json", text);
    const auto check = dcu::test::check_against_schemas("status", {dir / "states.json"});
    ASSERT_EQ(check.verdicts.size(), std::size(messages)) << check.problems;
    for (std::size_t i = 0; i < std::size(messages); ++i)
        EXPECT_EQ(check.verdicts[i].ok, messages[i].ok) << messages[i].name << "\n" << check.problems;
}

}  // namespace
