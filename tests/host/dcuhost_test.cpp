// dcuhost as a head-end session uses it: answers on standard output, the
// library's progress on standard error, usage errors refused before anything
// happens.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "tests/support/private_store.hpp"
#include "tests/support/store_suite.hpp"
#include "tests/support/run_program.hpp"
#include "tests/support/strict_json.hpp"

namespace {

using dcu::test::run_program;

class Dcuhost : public dcu::test::StoreSuite {
protected:
    void SetUp() override { dcu::test::StoreClient(store().port()).flushall(); }
};

TEST_F(Dcuhost, AnswersOnStandardOutputOnly) {
    dcu::test::StoreClient(store().port()).hset("Port2Met0SerNum", "SER_NUM", "SN10");
    auto result = run_program({DCUHOST_PATH, "--store", store_address(), "meters", "9"});
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.out,
              "{\n\"TYPE\":\"GET_METER_SER_LIST\",\n\"SEQ_NUM\":\"9\",\n\"CMD_TYPE\":\"OD_MESSAGE\",\n"
              "\"CMD_STATUS\":\"SUCCESS\",\n\"DATA\":\n{\n\"NUM_MET\":\"1\",\n\"MET_LIST\":\n[\n\"SN10\"]\n}\n}\n");
    EXPECT_NE(result.err.find("Sending Json text Len : " + std::to_string(result.out.size()) + "\n"), std::string::npos)
        << result.err;
}

TEST_F(Dcuhost, StdinSessionAnswersEachLineAndReportsBadOnes) {
    dcu::test::RunOptions options;
    options.stdin_text = "meters 1\n\n# a comment\nmeters\nfrobnicate 3\nmeters 2\n";
    auto result = run_program({DCUHOST_PATH, "--store", store_address(), "--stdin"}, options);
    EXPECT_EQ(result.exit_code, 2);
    EXPECT_NE(result.out.find("\"SEQ_NUM\":\"1\""), std::string::npos);
    EXPECT_NE(result.out.find("\"SEQ_NUM\":\"2\""), std::string::npos);
    EXPECT_NE(result.err.find("dcuhost: meters: missing SEQ_NUM\n"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("dcuhost: unknown request \"frobnicate 3\"\n"), std::string::npos) << result.err;
}

TEST_F(Dcuhost, UsageErrorsExitNonZeroWithoutTouchingTheStore) {
    struct Case {
        std::vector<std::string> args;
        std::string first_line;
    };
    const Case cases[] = {
        {{}, "usage: dcuhost [--store HOST:PORT] REQUEST ARGS..."},
        {{"meters", "x"}, "dcuhost: SEQ_NUM must be a whole number from -2147483648 to 2147483647, not \"x\""},
        {{"meters", "1", "2"}, "dcuhost: meters: too many arguments"},
        {{"--store", "nowhere", "meters", "1"}, "dcuhost: --store needs HOST:PORT"},
        {{"--bogus"}, "dcuhost: unknown option --bogus"},
        {{"--stdin", "meters", "1"}, "usage: dcuhost [--store HOST:PORT] REQUEST ARGS..."},
    };
    for (const auto &c : cases) {
        std::vector<std::string> argv{DCUHOST_PATH};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        auto result = run_program(argv);
        EXPECT_EQ(result.exit_code, 2) << result.err;
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err.substr(0, result.err.find('\n')), c.first_line);
        EXPECT_EQ(result.err.find("redis_init"), std::string::npos);
    }
    auto help = run_program({DCUHOST_PATH, "--help"});
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_NE(help.out.find("  meters SEQ_NUM"), std::string::npos);
}

TEST_F(Dcuhost, SelectionRequestShowsTheEmbeddedText) {
    dcu::test::TempDir root;
    dcu::test::RunOptions options;
    options.env["DCU_ROOT"] = root.path().string();
    auto result = run_program(
        {DCUHOST_PATH, "--store", store_address(), "selection", "/srv/www/htdocs/user_ls_obis_det.json", "LSParams"},
        options);
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.out, "\"LSParams\":\n{\n\"NumParams\":\"0\",\n\"ObisCodeList\":\n[\n]\n}\n");
}

TEST_F(Dcuhost, LsRangeTakesEachTimeAsOneWordOrTwoAndAnswersNothing) {
    dcu::test::StoreClient client(store().port());
    client.hset("Port1Met3SerNum", "SER_NUM", "SN13");
    const std::map<std::string, std::string> march{{"NeedToRead", "1"}, {"Day", "5"},     {"Mon", "3"},
                                                   {"Year", "2024"},   {"Hour", "10"},    {"Min", "30"},
                                                   {"Day2", "6"},      {"Mon2", "3"},     {"Year2", "2024"},
                                                   {"Hour2", "0"},     {"Min2", "0"}};
    const std::vector<std::vector<std::string>> forms{
        {"2024-03-05 10:30", "2024-03-06 00:00"},
        {"2024-03-05", "10:30", "2024-03-06", "00:00"},
        {"2024-03-05 10:30", "2024-03-06", "00:00"},
    };
    for (const auto &times : forms) {
        client.del("Port1Met3OdLsCmd");
        std::vector<std::string> argv{DCUHOST_PATH, "--store", store_address(), "ls-range", "1", "SN13"};
        argv.insert(argv.end(), times.begin(), times.end());
        auto result = run_program(argv);
        EXPECT_EQ(result.exit_code, 0) << result.err;
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(client.hgetall("Port1Met3OdLsCmd"), march);
    }
    client.del("Port1Met3OdLsCmd");
    struct Refused {
        std::vector<std::string> times;
        std::string first_line;
    };
    const Refused refused[] = {
        {{"2024-13-05 10:30", "2024-03-06 00:00"},
         "dcuhost: START must be a time as YYYY-MM-DD HH:MM, not \"2024-13-05 10:30\""},
        {{"2024-03-05 10:30", "2024-03-06 24:00"},
         "dcuhost: END must be a time as YYYY-MM-DD HH:MM, not \"2024-03-06 24:00\""},
        {{"2024-03-05 10:30"}, "dcuhost: ls-range: missing END"},
        {{"-001-03-05 10:30", "2024-03-06 00:00"},
         "dcuhost: START must be a time as YYYY-MM-DD HH:MM, not \"-001-03-05 10:30\""},
        {{"2024-02-31 23:59", "2024-03-06 00:00"},
         "dcuhost: START must be a time that exists, not \"2024-02-31 23:59\""},
        {{"2024-03-05 10:30", "2023-02-29 00:00"}, "dcuhost: END must be a time that exists, not \"2023-02-29 00:00\""},
        {{"2024-03-06 00:00", "2024-03-05 23:59"}, "dcuhost: START must not be after END"},
    };
    for (const auto &r : refused) {
        std::vector<std::string> argv{DCUHOST_PATH, "--store", store_address(), "ls-range", "1", "SN13"};
        argv.insert(argv.end(), r.times.begin(), r.times.end());
        auto result = run_program(argv);
        EXPECT_EQ(result.exit_code, 2);
        EXPECT_EQ(result.err.substr(0, result.err.find('\n')), r.first_line);
    }
    EXPECT_EQ(client.keys("*OdLsCmd"), std::vector<std::string>{});
}

TEST_F(Dcuhost, InstModemAndCommnReachTheirHandlers) {
    struct Case {
        std::vector<std::string> words;
        std::string type;
    };
    const Case cases[] = {
        {{"inst", "11", "SN1"}, "\"TYPE\":\"OD_INST\",\n\"SEQ_NUM\":\"11\""},
        {{"modem", "12"}, "\"TYPE\":\"GET_MODEM_DIAG_MESSAGE\",\n\"SEQ_NUM\":\"12\""},
        {{"commn", "13"}, "\"TYPE\":\"GET_COMMN_STATUS_MESSAGE\",\n\"SEQ_NUM\":\"13\""},
    };
    for (const auto &c : cases) {
        std::vector<std::string> argv{DCUHOST_PATH, "--store", store_address()};
        argv.insert(argv.end(), c.words.begin(), c.words.end());
        auto result = run_program(argv);
        EXPECT_EQ(result.exit_code, 0) << result.err;
        EXPECT_EQ(result.out.substr(0, 2 + c.type.size()), "{\n" + c.type) << result.out;
        EXPECT_EQ(dcu::test::strict_json_error(result.out), "");
    }
}

TEST_F(Dcuhost, WithoutStoreItStillAnswers) {
    auto result = run_program({DCUHOST_PATH, "--store", "127.0.0.1:" + std::to_string(dcu::test::free_loopback_port()),
                               "meters", "4"});
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(dcu::test::strict_json_error(result.out), "");
    EXPECT_NE(result.out.find("\"NUM_MET\":\"0\""), std::string::npos);
    EXPECT_NE(result.err.find("Connection error: Connection refused"), std::string::npos);
}

TEST_F(Dcuhost, ProfileContentAndListingWordsReachTheirHandlers) {
    // Meter SN01 is meter_id_3; every data file holds a value of its own, so
    // each answer shows which file the request reached.
    dcu::test::StoreClient client(store().port());
    client.hset("Port0Met3SerNum", "SER_NUM", "SN01");
    client.hset("Port0Met3OdLsFile", "1", "od_f1");
    dcu::test::TempDir root;
    const std::string selected_c = "{\"NumParams\":\"1\",\"ObisCodeList\":[{\"obis\":\"c\",\"assign\":\"C\"}]}";
    const std::string sections =
        "\"BillParams\":" + selected_c + ",\"MNParams\":" + selected_c + ",\"EventParams\":" + selected_c;
    for (const char *file : {"user_event_obis_det.json", "user_bill_obis_det.json", "user_dp_obis_det.json"})
        dcu::test::write_file(root / (std::string("/srv/www/htdocs/") + file), sections);
    for (const char *file : {"billing", "dp_03_2024", "event_2"})
        dcu::test::write_file(root / (std::string("/usr/tev/data/DlmsData/meter_id_3/") + file),
                              std::string("c\nvalue of ") + file + "\n");
    dcu::test::RunOptions options;
    options.env["DCU_ROOT"] = root.path().string();

    struct Case {
        std::vector<std::string> args;
        std::string in_answer;  // empty: no answer
        std::string in_progress;
    };
    const Case cases[] = {
        {{"billing", "7", "SN01"}, "\"BILL_DATA\":\n[\n{\"V0\":\"value of billing\"}", ""},
        {{"midnight", "7", "SN01", "3", "2024"}, "\"MN_DATA\":\n[\n{\"V0\":\"value of dp_03_2024\"}", ""},
        {{"event", "7", "SN01", "2"}, "\"EVENT_DATA\":\n[\n{\"V0\":\"value of event_2\"}", ""},
        {{"event-verbose", "7", "SN01", "2"}, "{\"V0\":\"value of event_2\"}", "Getting line by line details"},
        {{"event-dump", "7", "SN01", "2"}, "", "Cvalue of event_2"},
        {{"content", "bill", "7", "SN01", "meter_id_3", "billing", "V9"},
         "\"DIR_NAME\":\"meter_id_3\",\n\"FILE_NAME\":\"billing\",\n\"VIEW_TYPE\":\"V9\"",
         "user_bill_obis_det.json"},
        {{"content", "dp", "7", "SN01", "meter_id_3", "dp_03_2024", ""}, "\"TYPE\":\"GET_BILL_FILE_CONTENT\"",
         "meter_id_3/dp_03_2024\n"},
        {{"content", "event", "7", "SN01", "meter_id_3", "event_2", "V"}, "\"TYPE\":\"GET_EVENT_FILE_CONTENT\"",
         "user_event_obis_det.json"},
        {{"content", "ls", "7", "SN01", "meter_id_3", "billing", "V"}, "\"TYPE\":\"GET_LS_FILE_CONTENT\"",
         "user_ls_obis_det.json"},
        {{"files", "bill", "7", "SN01"}, "\"FILE_LIST\":\n[\n\"billing\"]", ""},
        {{"files", "dp", "7", "SN01"}, "\"FILE_LIST\":\n[\n\"dp_03_2024\"]", ""},
        {{"files", "event", "7", "SN01"}, "\"FILE_LIST\":\n[\n\"event_2\"]", ""},
        {{"files", "ls", "7", "SN01"}, "\"TYPE\":\"GET_LS_FILE_LIST\"", "send ls files only"},
        {{"files", "od", "7", "SN01"}, "\"FILE_LIST\":\n[\"od_f1\"]", ""},
        {{"dirs", "7"}, "\"DIR_LIST\":\n[\n\"meter_id_3\"]", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        std::vector<std::string> argv{DCUHOST_PATH, "--store", store_address()};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        auto result = run_program(argv, options);
        EXPECT_EQ(result.exit_code, 0) << result.err;
        if (c.in_answer.empty()) {
            EXPECT_EQ(result.out, "");
        } else {
            EXPECT_NE(result.out.find(c.in_answer), std::string::npos) << result.out;
            EXPECT_NE(result.out.find("\"SEQ_NUM\":\"7\""), std::string::npos) << result.out;
            EXPECT_EQ(dcu::test::strict_json_error(result.out), "");
        }
        EXPECT_NE(result.err.find(c.in_progress), std::string::npos) << result.err;
    }
}

TEST_F(Dcuhost, ProfileArgumentsAreChecked) {
    struct Case {
        std::vector<std::string> args;
        std::string first_line;
    };
    const Case cases[] = {
        {{"midnight", "1", "SN01", "13", "65536"},
         "dcuhost: YEAR must be a whole number from 0 to 65535, not \"65536\""},
        {{"midnight", "1", "SN01", "256", "2024"}, "dcuhost: MONTH must be a whole number from 0 to 255, not \"256\""},
        {{"event", "1", "SN01", "x"}, "dcuhost: EVENT_TYPE must be a whole number from 0 to 255, not \"x\""},
        {{"content", "bill", "1", "SN01", "meter_id_3", "billing"}, "dcuhost: content bill: missing VIEW_TYPE"},
        {{"files", "bogus", "1", "SN01"}, "dcuhost: unknown request \"files bogus\""},
    };
    for (const auto &c : cases) {
        std::vector<std::string> argv{DCUHOST_PATH, "--store", store_address()};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        auto result = run_program(argv);
        EXPECT_EQ(result.exit_code, 2) << result.err;
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err.substr(0, result.err.find('\n')), c.first_line);
    }
}

}  // namespace
