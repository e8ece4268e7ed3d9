// The library as a C host links and uses it (the example host that
// libreqhandlers-dev ships, built as C99 against the shared library); its
// exported names are exactly the published list.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>

#include "tests/support/private_store.hpp"
#include "tests/support/run_program.hpp"
#include "tests/support/strict_json.hpp"

namespace {

TEST(CHost, LinksAnswersAndReadsTheLibrarysTables) {
    dcu::test::PrivateStore store;
    store.start();
    dcu::test::StoreClient(store.port()).hset("Port0Met1SerNum", "SER_NUM", "SN7");
    auto result = dcu::test::run_program({C_HOST_PATH, std::to_string(store.port()), "SN"});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    const std::string answer =
        "{\n\"TYPE\":\"GET_METER_SER_LIST\",\n\"SEQ_NUM\":\"1\",\n\"CMD_TYPE\":\"OD_MESSAGE\",\n"
        "\"CMD_STATUS\":\"SUCCESS\",\n\"DATA\":\n{\n\"NUM_MET\":\"1\",\n\"MET_LIST\":\n[\n\"SN7\"]\n}\n}\n";
    EXPECT_EQ(dcu::test::strict_json_error(answer), "");
    // The answer as send_msg got it, then the lookup: find_ser_num's packed
    // address, g_meter_ser_num_info and g_comm_status_buff as C reads them.
    EXPECT_EQ(result.out, "Sending Json text Len : " + std::to_string(answer.size()) + "\n" + answer + "\n" +
                              "SN: port 0, meter 1, meter_id_1, serial number SN7\n"
                              "communication status 0, 1, 2: No, Yes, Not Configured\n");
}

TEST(ExportedNames, AreExactlyTheList) {
    std::ifstream list(EXPORTS_LIST);
    std::set<std::string> expected;
    for (std::string name; std::getline(list, name);)
        if (!name.empty()) expected.insert(name);

    auto nm = dcu::test::run_program({"nm", "-D", "--defined-only", REQHANDLERS_PATH});
    ASSERT_EQ(nm.exit_code, 0) << nm.err;
    std::set<std::string> exported;
    std::istringstream lines(nm.out);
    for (std::string line; std::getline(lines, line);) {
        std::string name = line.substr(line.rfind(' ') + 1);
        name = name.substr(0, name.find('@'));
        if (name != "REQHANDLERS_1") exported.insert(name);
    }
    EXPECT_EQ(exported, expected);
}

}  // namespace
