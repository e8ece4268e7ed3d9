// dcuhost --stdin takes machine requests beside word lines: the same answer
// for the same request, and the failure answer (on standard output, where
// machines read) for a bad one.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/run_program.hpp"
#include "tests/support/store_suite.hpp"

namespace {

using dcu::test::run_program;

class MachineStdin : public dcu::test::StoreSuite {};

TEST_F(MachineStdin, JsonLinesAreAnsweredLikeTheirWordsAndBadOnesGetTheFailureAnswer) {
    dcu::test::StoreClient client(store().port());
    client.flushall();
    client.hset("Port2Met0SerNum", "SER_NUM", "SN10");
    const auto by_words = run_program({DCUHOST_PATH, "--store", store_address(), "meters", "9"});
    ASSERT_EQ(by_words.exit_code, 0);

    dcu::test::RunOptions options;
    options.stdin_text =
        "{\"TYPE\":\"GET_METER_SER_LIST\",\"SEQ_NUM\":9}\n"
        "  {\"TYPE\":\"NO_SUCH\", \"SEQ_NUM\":\"4\"}\r\n"
        "meters 9\n"
        "{\"TYPE\":\"GET_METER_SER_LIST\",\n";
    const auto session = run_program({DCUHOST_PATH, "--store", store_address(), "--stdin"}, options);
    EXPECT_EQ(session.exit_code, 2);
    EXPECT_EQ(session.out, by_words.out +
                               "{\n\"TYPE\":\"NO_SUCH\",\n\"SEQ_NUM\":\"4\",\n\"CMD_TYPE\":\"OD_MESSAGE\",\n"
                               "\"CMD_STATUS\":\"FAILURE\",\n\"DATA\":\n{\n\"REASON\":\"unknown TYPE\"\n}\n}\n" +
                               by_words.out +
                               "{\n\"TYPE\":\"UNKNOWN\",\n\"SEQ_NUM\":\"\",\n\"CMD_TYPE\":\"OD_MESSAGE\",\n"
                               "\"CMD_STATUS\":\"FAILURE\",\n\"DATA\":\n{\n\"REASON\":\"not a JSON object\"\n}\n}\n");
    EXPECT_NE(session.err.find("dcuhost: unknown TYPE\n"), std::string::npos) << session.err;
    EXPECT_NE(session.err.find("dcuhost: not a JSON object\n"), std::string::npos) << session.err;
}

}  // namespace
