// The library as a C host links and uses it; its exported names are exactly
// the published list.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>

#include "tests/support/private_store.hpp"
#include "tests/support/run_program.hpp"

namespace {

TEST(CHost, LinksAndAnswers) {
    dcu::test::PrivateStore store;
    store.start();
    dcu::test::StoreClient(store.port()).hset("Port0Met1SerNum", "SER_NUM", "SN7");
    auto result = dcu::test::run_program({C_HOST_PATH, std::to_string(store.port())});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_NE(result.err.find("answer 1 of 146 bytes\n{\n\"TYPE\":\"GET_METER_SER_LIST\",\n\"SEQ_NUM\":\"42\""),
              std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("packed 1, table[0][1] SN7, words No/Yes/Not Configured"), std::string::npos)
        << result.err;
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
