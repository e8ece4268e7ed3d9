// The contract on real answers of the bundled sample unit (cfgload's
// configuration, metersim's seven meters, a private store): one dcuhost
// --stdin session over every request, as words and as machine requests,
// with the library's awkward answers (unknown meters, refused paths, files
// that don't exist) and every failure answer dcuhost sends. Each answer must
// match its schema, each request the host takes its request schema; a real
// answer with one fault put in must not.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/contract/schema_check.hpp"
#include "tests/support/run_program.hpp"
#include "tests/support/sample_unit.hpp"
#include "tests/support/store_suite.hpp"
#include "tests/support/temp_dir.hpp"

namespace {

using dcu::test::check_against_schemas;
using dcu::test::run_program;
using dcu::test::schemas_of;

// What the request schema makes of a machine request.
enum class RequestSchema {
    none,     // no request schema applies (not JSON, no or unknown TYPE), or the line is a word line
    valid,    // the schema takes it (the host may still refuse it for what a schema can't say)
    invalid,  // the schema refuses it, as the host does
};

struct SessionLine {
    std::string line;
    std::string answer;  // the schema of its answer; empty when none comes
    RequestSchema request = RequestSchema::none;
};

class SampleUnitSession : public dcu::test::StoreSuite {
protected:
    static void SetUpTestSuite() {
        StoreSuite::SetUpTestSuite();
        root_ = std::make_unique<dcu::test::TempDir>();
        scratch_ = std::make_unique<dcu::test::TempDir>();
        load_sample_unit();
        if (!::testing::Test::HasFatalFailure()) run_session();
    }
    static void TearDownTestSuite() {
        scratch_.reset();
        root_.reset();
        StoreSuite::TearDownTestSuite();
    }

    // The sample unit: its record published by cfgload, seven meters by metersim.
    static void load_sample_unit() {
        ASSERT_EQ(dcu::test::sample_unit::load(*root_, store().port()), "");
        serial_ = dcu::test::sample_unit::meter_serial(store().port());
    }

    // Every request of the session, in order, with what comes back. Meter
    // SN is port 0 meter 1, directory meter_id_1.
    static std::vector<SessionLine> session_lines() {
        const std::string sn = serial_;
        const std::string m = ",\"MET_SERNUM\":\"" + sn + "\"";
        const std::string content = m + ",\"DIR_NAME\":\"meter_id_1\",\"FILE_NAME\":";
        const std::string big(70000, 'x');
        const std::string long_type(100, 'A');
        using R = RequestSchema;
        return {
            // Every request word.
            {"meters 1", "GET_METER_SER_LIST"},
            {"billing 2 " + sn, "OD_BILLING"},
            {"midnight 3 " + sn + " 3 2024", "OD_MID_NIGHT"},
            {"event 4 " + sn + " 2", "OD_EVENT"},
            {"event-verbose 5 " + sn + " 2", "OD_EVENT"},
            {"event-dump 6 " + sn + " 2", ""},
            {"content event 7 " + sn + " meter_id_1 event_2 V1", "GET_EVENT_FILE_CONTENT"},
            {"content bill 8 " + sn + " meter_id_1 billing V1", "GET_BILL_FILE_CONTENT"},
            {"content dp 9 " + sn + " meter_id_1 dp_03_2024 V2", "GET_BILL_FILE_CONTENT"},
            {"content ls 10 " + sn + " meter_id_1 2024_03_27 V1", "GET_LS_FILE_CONTENT"},
            {"files ls 11 " + sn, "GET_LS_FILE_LIST"},
            {"files event 12 " + sn, "GET_EVENT_FILE_LIST"},
            {"files dp 13 " + sn, "GET_DP_FILE_LIST"},
            {"files bill 14 " + sn, "GET_BILL_FILE_LIST"},
            {"files od 15 " + sn, "GET_OD_LS_FILE_LIST"},
            {"dirs 16", "GET_DIR_LIST"},
            {"inst 17 " + sn, "OD_INST"},
            {"ls-range 18 " + sn + " 2024-03-05 10:30 2024-03-06 00:00", ""},
            {"modem 19", "GET_MODEM_DIAG_MESSAGE"},
            {"commn 20", "GET_COMMN_STATUS_MESSAGE"},
            // The library's answers with empty lists and FAILURE.
            {"billing 21 NO-SUCH-METER", "OD_BILLING"},
            {"inst 22 NO-SUCH-METER", "OD_INST"},
            {"files bill 23 NO-SUCH-METER", "GET_BILL_FILE_LIST"},
            {"files od 24 NO-SUCH-METER", "GET_OD_LS_FILE_LIST"},
            {"content bill 25 " + sn + " .. secret V1", "GET_BILL_FILE_CONTENT"},
            {"midnight 26 " + sn + " 1 1999", "OD_MID_NIGHT"},
            {"event -27 " + sn + " 9", "OD_EVENT"},
            // Every machine request TYPE.
            {"{\"TYPE\":\"GET_METER_SER_LIST\",\"SEQ_NUM\":31}", "GET_METER_SER_LIST", R::valid},
            {"{\"TYPE\":\"OD_BILLING\",\"SEQ_NUM\":\"32\"" + m + "}", "OD_BILLING", R::valid},
            {"{\"TYPE\":\"OD_MID_NIGHT\",\"SEQ_NUM\":33" + m + ",\"MONTH\":\"3\",\"YEAR\":2024}", "OD_MID_NIGHT",
             R::valid},
            {"{\"TYPE\":\"OD_EVENT\",\"SEQ_NUM\":34" + m + ",\"EVENT_TYPE\":1}", "OD_EVENT", R::valid},
            {"{\"TYPE\":\"OD_EVENT_DETAIL\",\"SEQ_NUM\":35" + m + ",\"EVENT_TYPE\":\"3\"}", "OD_EVENT", R::valid},
            {"{\"TYPE\":\"OD_EVENT_DUMP\",\"SEQ_NUM\":36" + m + ",\"EVENT_TYPE\":2}", "", R::valid},
            {"{\"TYPE\":\"GET_EVENT_FILE_CONTENT\",\"SEQ_NUM\":37" + content + "\"event_1\",\"VIEW_TYPE\":\"\"}",
             "GET_EVENT_FILE_CONTENT", R::valid},
            {"{\"TYPE\":\"GET_BILL_FILE_CONTENT\",\"SEQ_NUM\":38" + content + "\"billing\",\"VIEW_TYPE\":\"V1\"}",
             "GET_BILL_FILE_CONTENT", R::valid},
            {"{\"TYPE\":\"GET_DP_FILE_CONTENT\",\"SEQ_NUM\":39" + content + "\"dp_02_2024\",\"VIEW_TYPE\":\"V1\"}",
             "GET_BILL_FILE_CONTENT", R::valid},
            {"{\"TYPE\":\"GET_LS_FILE_CONTENT\",\"SEQ_NUM\":40" + content + "\"2024_03_25\",\"VIEW_TYPE\":\"V1\"}",
             "GET_LS_FILE_CONTENT", R::valid},
            {"{\"TYPE\":\"GET_LS_FILE_LIST\",\"SEQ_NUM\":41" + m + "}", "GET_LS_FILE_LIST", R::valid},
            {"{\"TYPE\":\"GET_EVENT_FILE_LIST\",\"SEQ_NUM\":42" + m + "}", "GET_EVENT_FILE_LIST", R::valid},
            {"{\"TYPE\":\"GET_DP_FILE_LIST\",\"SEQ_NUM\":43" + m + "}", "GET_DP_FILE_LIST", R::valid},
            {"{\"TYPE\":\"GET_BILL_FILE_LIST\",\"SEQ_NUM\":44" + m + "}", "GET_BILL_FILE_LIST", R::valid},
            {"{\"TYPE\":\"GET_OD_LS_FILE_LIST\",\"SEQ_NUM\":45" + m + "}", "GET_OD_LS_FILE_LIST", R::valid},
            {"{\"TYPE\":\"GET_DIR_LIST\",\"SEQ_NUM\":46,\"NOTE\":\"ignored\"}", "GET_DIR_LIST", R::valid},
            {"{\"TYPE\":\"OD_INST\",\"SEQ_NUM\":47" + m + "}", "OD_INST", R::valid},
            {"{\"TYPE\":\"OD_LS_RANGE\",\"SEQ_NUM\":48" + m + ",\"START\":\"2024-03-05 10:30\",\"END\":\"2024-03-05 10:30\"}",
             "", R::valid},
            {"{\"TYPE\":\"GET_MODEM_DIAG_MESSAGE\",\"SEQ_NUM\":-49}", "GET_MODEM_DIAG_MESSAGE", R::valid},
            {"{\"TYPE\":\"GET_COMMN_STATUS_MESSAGE\",\"SEQ_NUM\":\"2147483647\"}", "GET_COMMN_STATUS_MESSAGE",
             R::valid},
            // Every failure answer of the host.
            {"{\"TYPE\":\"OD_BILLING\",", "failure"},
            {"{\"TYPE\":\"OD_BILLING\",\"SEQ_NUM\":50} trailing", "failure"},
            {"{\"TYPE\":\"NO_SUCH_TYPE\",\"SEQ_NUM\":51}", "failure"},
            {"{\"TYPE\":\"" + long_type + "\",\"SEQ_NUM\":52}", "failure"},
            {"{\"SEQ_NUM\":53}", "failure"},
            {"{\"TYPE\":7,\"SEQ_NUM\":54}", "failure"},
            {"{\"TYPE\":\"OD_BILLING\",\"SEQ_NUM\":55}", "failure", R::invalid},
            {"{\"TYPE\":\"OD_INST\"" + m + "}", "failure", R::invalid},
            {"{\"TYPE\":\"OD_INST\",\"SEQ_NUM\":\"1e3\"" + m + "}", "failure", R::invalid},
            {"{\"TYPE\":\"OD_INST\",\"SEQ_NUM\":2147483648" + m + "}", "failure", R::invalid},
            {"{\"TYPE\":\"OD_MID_NIGHT\",\"SEQ_NUM\":56" + m + ",\"MONTH\":\"300\",\"YEAR\":2024}", "failure",
             R::invalid},
            {"{\"TYPE\":\"OD_MID_NIGHT\",\"SEQ_NUM\":57" + m + ",\"MONTH\":3,\"YEAR\":-1}", "failure", R::invalid},
            {"{\"TYPE\":\"OD_EVENT\",\"SEQ_NUM\":58,\"MET_SERNUM\":12345,\"EVENT_TYPE\":1}", "failure", R::invalid},
            {"{\"TYPE\":\"OD_EVENT\",\"SEQ_NUM\":59" + m + ",\"EVENT_TYPE\":[1]}", "failure", R::invalid},
            {"{\"TYPE\":\"GET_BILL_FILE_CONTENT\",\"SEQ_NUM\":60" + m + ",\"DIR_NAME\":\"meter_id_1\"}", "failure",
             R::invalid},
            {"{\"TYPE\":\"OD_LS_RANGE\",\"SEQ_NUM\":61" + m + ",\"START\":\"5 March\",\"END\":\"2024-03-06 00:00\"}",
             "failure", R::invalid},
            // What a schema can't say: the host refuses these, the schema takes them.
            {"{\"TYPE\":\"OD_LS_RANGE\",\"SEQ_NUM\":62" + m +
                 ",\"START\":\"2024-02-31 10:00\",\"END\":\"2024-03-01 00:00\"}",
             "failure", R::valid},
            {"{\"TYPE\":\"OD_LS_RANGE\",\"SEQ_NUM\":63" + m +
                 ",\"START\":\"2024-03-06 00:00\",\"END\":\"2024-03-05 10:30\"}",
             "failure", R::valid},
            {"{\"TYPE\":\"OD_BILLING\",\"SEQ_NUM\":64,\"MET_SERNUM\":\"" + sn + "\\u0000x\"}", "failure", R::valid},
            {"{\"TYPE\":\"OD_BILLING\\u0000\",\"SEQ_NUM\":65" + m + "}", "failure"},
            {"{\"TYPE\":\"OD_BILLING\",\"SEQ_NUM\":66,\"MET_SERNUM\":\"" + big + "\"}", "failure"},
            {"meters 67", "GET_METER_SER_LIST"},
        };
    }

    // One dcuhost --stdin session over every line; its answers to a file.
    static void run_session() {
        std::string input;
        for (const auto &line : session_lines()) input += line.line + "\n";
        dcu::test::RunOptions options;
        options.env = {{"DCU_ROOT", root_->path().string()}};
        options.stdin_text = input;
        options.timeout = std::chrono::minutes(5);
        const auto run = run_program({DCUHOST_PATH, "--store", store_address(), "--stdin"}, options);
        // Lines refused get the failure answer and make the exit status 2.
        ASSERT_EQ(run.exit_code, 2) << run.err;
        answers_ = run.out;
        dcu::test::write_file(answers_file(), answers_);
    }

    static std::filesystem::path answers_file() { return *scratch_ / "session-answers.json"; }

    // The session's answers as texts, split where the next answer begins
    // (values are escaped, so no value holds a line break).
    static std::vector<std::string> answer_texts() {
        std::vector<std::string> texts;
        const std::string start = "{\n\"TYPE\":";
        for (std::size_t at = answers_.find(start); at != std::string::npos;) {
            const std::size_t next = answers_.find("\n" + start, at);
            texts.push_back(answers_.substr(at, next == std::string::npos ? std::string::npos : next + 1 - at));
            at = next == std::string::npos ? next : next + 1;
        }
        return texts;
    }

    // The first answer of the session whose text holds needle.
    static std::string answer_with(const std::string &needle) {
        for (const auto &text : answer_texts())
            if (text.find(needle) != std::string::npos) return text;
        ADD_FAILURE() << "no answer of the session holds " << needle;
        return {};
    }

    static std::unique_ptr<dcu::test::TempDir> root_;
    static std::unique_ptr<dcu::test::TempDir> scratch_;
    static std::string serial_;
    static std::string answers_;
};

std::unique_ptr<dcu::test::TempDir> SampleUnitSession::root_;
std::unique_ptr<dcu::test::TempDir> SampleUnitSession::scratch_;
std::string SampleUnitSession::serial_;
std::string SampleUnitSession::answers_;

// Every answer of the session holds its schema, in the order the requests
// were sent: one of every TYPE the library sends, and every failure answer.
TEST_F(SampleUnitSession, EveryAnswerMatchesItsSchema) {
    std::vector<std::string> expected;
    for (const auto &line : session_lines())
        if (!line.answer.empty()) expected.push_back(line.answer);
    const auto check = check_against_schemas("answers", {answers_file()});
    EXPECT_EQ(check.exit_code, 0) << check.problems;
    EXPECT_EQ(schemas_of(check.verdicts), expected) << check.problems;
    for (const auto &verdict : check.verdicts) EXPECT_TRUE(verdict.ok) << verdict.index << " " << verdict.schema;
    EXPECT_EQ(answer_texts().size(), expected.size());
}

// Every machine request the host answers is one its request schema takes;
// the ones it refuses for what a schema can say, the schema refuses too.
TEST_F(SampleUnitSession, MachineRequestsMatchTheirRequestSchemas) {
    std::string requests;
    std::vector<bool> expected_ok;
    for (const auto &line : session_lines()) {
        if (line.request == RequestSchema::none) continue;
        requests += line.line + "\n";
        expected_ok.push_back(line.request == RequestSchema::valid);
    }
    const auto file = *scratch_ / "requests.json";
    dcu::test::write_file(file, requests);
    const auto check = check_against_schemas("requests", {file});
    ASSERT_EQ(check.verdicts.size(), expected_ok.size()) << check.problems;
    for (std::size_t i = 0; i < expected_ok.size(); ++i)
        EXPECT_EQ(check.verdicts[i].ok, expected_ok[i])
            << "request " << i + 1 << " (" << check.verdicts[i].schema << ")\n" << check.problems;
    EXPECT_EQ(check.exit_code, 1);
}

struct Fault {
    const char *name;
    const char *answer;  // text that picks the session's answer to break
    std::string from;    // what is replaced in it, once
    std::string to;
};

// A real answer with one fault put in no longer holds its schema: each is
// a way an answer could drift from what head-ends parse.
TEST_F(SampleUnitSession, ABrokenAnswerFailsItsSchema) {
    const Fault faults[] = {
        {"a DATA member renamed", "\"TYPE\":\"GET_BILL_FILE_LIST\"", "\"NUM_FILES\"", "\"NUM_FILE\""},
        {"an envelope member renamed", "\"TYPE\":\"OD_INST\"", "\"SEQ_NUM\"", "\"SEQ_NO\""},
        {"a record value renamed", "\"TYPE\":\"OD_BILLING\"", "\"V1\"", "\"v1\""},
        {"an instantaneous member renamed", "\"TYPE\":\"OD_INST\"", "\"val\"", "\"value\""},
        {"a list member renamed", "\"TYPE\":\"GET_METER_SER_LIST\"", "\"MET_LIST\"", "\"METER_LIST\""},
        {"a count as a JSON number", "\"TYPE\":\"GET_METER_SER_LIST\"", "\"NUM_MET\":\"7\"", "\"NUM_MET\":7"},
        {"a count that is no number", "\"TYPE\":\"GET_DIR_LIST\"", "\"NUM_DIRS\":\"7\"", "\"NUM_DIRS\":\"seven\""},
        {"two header members swapped", "\"TYPE\":\"GET_DIR_LIST\"",
         "\"CMD_TYPE\":\"OD_MESSAGE\",\n\"CMD_STATUS\":\"SUCCESS\"",
         "\"CMD_STATUS\":\"SUCCESS\",\n\"CMD_TYPE\":\"OD_MESSAGE\""},
        {"two DATA members swapped", "\"TYPE\":\"GET_OD_LS_FILE_LIST\"", "\"DIR_NAME\":\"meter_id_1\",\n\"NUM_FILES\":\"2\"",
         "\"NUM_FILES\":\"2\",\n\"DIR_NAME\":\"meter_id_1\""},
        {"a member twice", "\"TYPE\":\"GET_DIR_LIST\"", "\"NUM_DIRS\":\"7\",", "\"NUM_DIRS\":\"7\",\n\"NUM_DIRS\":\"7\","},
        {"a member too many", "\"TYPE\":\"GET_DIR_LIST\"", "\"NUM_DIRS\"", "\"UNIT\":\"DCU-0001\",\n\"NUM_DIRS\""},
        {"a status word of its own", "\"TYPE\":\"GET_COMMN_STATUS_MESSAGE\"", "\"CMD_STATUS\":\"SUCCESS\"",
         "\"CMD_STATUS\":\"OK\""},
        {"DATATYPE where CMD_TYPE belongs", "\"TYPE\":\"OD_BILLING\"", "\"CMD_TYPE\"", "\"DATATYPE\""},
        {"serial and Ethernet ports mixed", "\"TYPE\":\"GET_COMMN_STATUS_MESSAGE\"", "\"PORT4\"", "\"ETH_PORT\""},
        {"the modem's first Status not the sequence number", "\"TYPE\":\"GET_MODEM_DIAG_MESSAGE\"",
         "\"Status\":\"19\"", "\"Status\":\"Idle\""},
        {"a communication status word unknown", "\"TYPE\":\"OD_INST\"", "\"COMM_STATUS\":\"No\"",
         "\"COMM_STATUS\":\"Maybe\""},
        {"a failure answer without REASON", "\"REASON\":\"unknown TYPE\"", "\"REASON\"", "\"WHY\""},
        {"a failure answer that says SUCCESS", "\"REASON\":\"unknown TYPE\"", "\"FAILURE\"", "\"SUCCESS\""},
        // Last: an answer cut short runs into whatever follows it.
        {"the answer cut short", "\"TYPE\":\"GET_BILL_FILE_LIST\"", "\"billing\"]\n}\n}\n", "\"billing\"]\n"},
    };
    std::string broken;
    for (const Fault &fault : faults) {
        std::string text = answer_with(fault.answer);
        const auto at = text.find(fault.from);
        ASSERT_NE(at, std::string::npos) << fault.name << ": " << fault.from << " not in\n" << text;
        broken += text.replace(at, fault.from.size(), fault.to);
    }
    const auto file = *scratch_ / "broken.json";
    dcu::test::write_file(file, broken);
    const auto check = check_against_schemas("answers", {file});
    EXPECT_EQ(check.exit_code, 1);
    ASSERT_EQ(check.verdicts.size(), std::size(faults)) << check.problems;
    for (std::size_t i = 0; i < std::size(faults); ++i)
        EXPECT_FALSE(check.verdicts[i].ok) << faults[i].name << " passed as " << check.verdicts[i].schema;
}

}  // namespace
