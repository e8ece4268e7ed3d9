// GET_METER_SER_LIST, whole answers.
#include <gtest/gtest.h>

#include "tests/reqhandlers/support/host_fixture.hpp"

namespace {

const std::string kHeader =
    "{\n\"TYPE\":\"GET_METER_SER_LIST\",\n\"SEQ_NUM\":\"5\",\n\"CMD_TYPE\":\"OD_MESSAGE\",\n"
    "\"CMD_STATUS\":\"SUCCESS\",\n\"DATA\":\n{\n";

class MeterList : public dcu::test::HandlerTest {};

TEST_F(MeterList, ListsConfiguredPositionsInOrder) {
    struct Case {
        const char *name;
        std::vector<std::tuple<int, int, std::string>> serials;
        std::string data;
    };
    const Case cases[] = {
        {"three", {{0, 1, "A1"}, {1, 0, "B2"}, {3, 3, "C3"}},
         "\"NUM_MET\":\"3\",\n\"MET_LIST\":\n[\n\"A1\",\"B2\",\"C3\"]\n}\n}\n"},
        {"first and last", {{3, 4, "LAST"}, {0, 0, "FIRST"}},
         "\"NUM_MET\":\"2\",\n\"MET_LIST\":\n[\n\"FIRST\",\"LAST\"]\n}\n}\n"},
        {"single", {{2, 2, "ONE"}}, "\"NUM_MET\":\"1\",\n\"MET_LIST\":\n[\n\"ONE\"]\n}\n}\n"},
        {"none", {}, "\"NUM_MET\":\"0\",\n\"MET_LIST\":\n[\n]\n}\n}\n"},
        {"escaped", {{0, 0, "Q\"1"}, {0, 1, "B\\2"}},
         "\"NUM_MET\":\"2\",\n\"MET_LIST\":\n[\n\"Q\\\"1\",\"B\\\\2\"]\n}\n}\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        client().flushall();
        dcu::test::host().sent.clear();
        for (const auto &[port, meter, serial_number] : c.serials) serial(port, meter, serial_number);
        std::string out = stdout_of([] { EXPECT_EQ(send_met_ser_num_det(5), 0); });
        const std::string text = sent_text();
        EXPECT_EQ(text, kHeader + c.data);
        EXPECT_STRICT_JSON(text);
        EXPECT_EQ(out, "Sending Json text Len : " + std::to_string(text.size()) + "\n");
    }
}

TEST_F(MeterList, KeysOfAnotherTypeAreMissingPositions) {
    serial(0, 0, "A1");
    client().run({"SET", "Port0Met1SerNum", "not a hash"});
    send_met_ser_num_det(2);
    EXPECT_EQ(sent_text(), kHeader.substr(0, kHeader.find("\"SEQ_NUM\"")) +
                               "\"SEQ_NUM\":\"2\",\n\"CMD_TYPE\":\"OD_MESSAGE\",\n\"CMD_STATUS\":\"SUCCESS\",\n\"DATA\":\n{\n"
                               "\"NUM_MET\":\"1\",\n\"MET_LIST\":\n[\n\"A1\"]\n}\n}\n");
}

TEST_F(MeterList, OneReadOfTheTwentyPositions) {
    dcu::test::Monitor monitor(store().port());
    send_met_ser_num_det(1);
    EXPECT_EQ(monitor.take().size(), 20u);
}

TEST_F(MeterList, WithoutStoreTheAnswerSaysItFailed) {
    store().stop();
    send_met_ser_num_det(-3);
    EXPECT_EQ(sent_text(), "{\n\"TYPE\":\"GET_METER_SER_LIST\",\n\"SEQ_NUM\":\"-3\",\n\"CMD_TYPE\":\"OD_MESSAGE\",\n"
                           "\"CMD_STATUS\":\"FAILURE\",\n\"DATA\":\n{\n\"NUM_MET\":\"0\",\n\"MET_LIST\":\n[\n]\n}\n}\n");
    store().start();
}

TEST_F(MeterList, ASecondAnswerCarriesNothingOfTheFirst) {
    serial(0, 0, std::string(200, 'L'));
    send_met_ser_num_det(1);
    client().flushall();
    send_met_ser_num_det(2);
    const std::string second = dcu::test::host().sent.back();
    EXPECT_EQ(std::string(json_text), second);
    for (std::size_t i = second.size(); i < sizeof json_text; ++i) ASSERT_EQ(json_text[i], '\0');
}

}  // namespace
