// Machine requests in-process: every row of the request table reachable by
// a TYPE of its own, the JSON forms of each kind of argument, and the
// failure answer of every kind of bad request.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "host/machine_request.hpp"
#include "tests/support/strict_json.hpp"

namespace {

using dcu::host::ArgKind;
using dcu::host::Args;
using dcu::host::parse_machine_request;
using dcu::host::RequestRow;

// A JSON text from members given as ready JSON values.
std::string object_of(const std::vector<std::pair<std::string, std::string>> &members) {
    std::string text = "{";
    for (const auto &[name, value] : members) text += (text.size() > 1 ? "," : "") + ("\"" + name + "\":" + value);
    return text + "}";
}

std::string sample_value(ArgKind kind) {
    switch (kind) {
    case ArgKind::seq_num: return "41";
    case ArgKind::u8: return "\"7\"";
    case ArgKind::u16: return "2024";
    case ArgKind::text: return "\"some text\"";
    case ArgKind::time_stamp: return "\"2024-03-05 10:30\"";
    }
    return "null";
}

TEST(MachineTypes, EveryRequestOfTheTableHasOneOfItsOwn) {
    std::set<std::string_view> seen;
    for (const auto &row : dcu::host::request_table()) {
        const auto type = row.machine_type;
        if (row.word == "selection") {
            EXPECT_EQ(type, "") << "the host's own request is not for machines";
            continue;
        }
        EXPECT_NE(type, "") << row.word << " can't be sent by a machine";
        EXPECT_TRUE(seen.insert(type).second) << row.word << " shares the TYPE " << type;
        EXPECT_EQ(dcu::host::find_machine_request(type, dcu::host::request_table()), &row);
    }
}

// Requests whose answer TYPE is another request's, or that have no answer,
// are sent under a TYPE of their own; the others under their answer's.
TEST(MachineTypes, SharedAndMissingAnswerTypesAreReplaced) {
    const struct {
        std::string_view word;
        std::string_view machine_type;
        std::string_view answer_type;
    } rows[] = {
        {"content dp", "GET_DP_FILE_CONTENT", "GET_BILL_FILE_CONTENT"},
        {"event-verbose", "OD_EVENT_DETAIL", "OD_EVENT"},
        {"event-dump", "OD_EVENT_DUMP", ""},
        {"ls-range", "OD_LS_RANGE", ""},
        {"content bill", "GET_BILL_FILE_CONTENT", "GET_BILL_FILE_CONTENT"},
    };
    for (const auto &expected : rows) {
        const auto &table = dcu::host::request_table();
        const auto row =
            std::find_if(table.begin(), table.end(), [&](const RequestRow &r) { return r.word == expected.word; });
        ASSERT_NE(row, table.end()) << expected.word;
        EXPECT_EQ(row->machine_type, expected.machine_type) << expected.word;
        EXPECT_EQ(row->answer_type, expected.answer_type) << expected.word;
    }
}

// Every row takes its arguments from the members named in the table, and
// says which one is missing.
TEST(MachineRequests, EveryRowTakesItsArgumentsByMemberName) {
    for (const auto &row : dcu::host::request_table()) {
        const std::string type(row.machine_type);
        if (type.empty()) continue;
        std::vector<std::pair<std::string, std::string>> members{{"TYPE", "\"" + type + "\""}};
        for (const auto &arg : row.args) members.emplace_back(arg.member, sample_value(arg.kind));

        const auto good = parse_machine_request(object_of(members));
        ASSERT_TRUE(good.request) << type << ": " << good.failure.reason;
        EXPECT_EQ(good.request->row, &row);
        ASSERT_EQ(good.request->args.size(), row.args.size());
        EXPECT_EQ(good.request->args[0].number, 41);

        for (std::size_t drop = 1; drop < members.size(); ++drop) {
            auto fewer = members;
            fewer.erase(fewer.begin() + static_cast<std::ptrdiff_t>(drop));
            const auto refused = parse_machine_request(object_of(fewer));
            ASSERT_FALSE(refused.request);
            EXPECT_EQ(refused.failure.type, type);
            EXPECT_EQ(refused.failure.seq_num, members[drop].first == "SEQ_NUM" ? "" : "41");
            EXPECT_EQ(refused.failure.reason, members[drop].first + " missing");
        }
    }
}

// A table of the test's own with every kind of argument.
int no_call(const Args &) { return 0; }
const std::vector<RequestRow> &kinds_table() {
    static const std::vector<RequestRow> table = {
        {"every kind",
         "EVERY_KIND",
         "EVERY_KIND",
         {{"SEQ_NUM", ArgKind::seq_num},
          {"NAME", ArgKind::text},
          {"SMALL", ArgKind::u8},
          {"WIDE", ArgKind::u16},
          {"FROM", ArgKind::time_stamp}},
         no_call,
         ""},
        {"content dp", "GET_DP_FILE_CONTENT", "SHARED", {{"SEQ_NUM", ArgKind::seq_num}}, no_call, ""},
        {"other", "SHARED", "SHARED", {{"SEQ_NUM", ArgKind::seq_num}}, no_call, ""},
    };
    return table;
}

TEST(MachineRequests, ArgumentsComeAsStringsOrIntegers) {
    struct Case {
        std::string text;
        long long seq, small, wide;
        std::string name;
    };
    const Case cases[] = {
        {R"({"TYPE":"EVERY_KIND","SEQ_NUM":"12","NAME":"SN 01","SMALL":"255","WIDE":"65535",)"
         R"("FROM":"2024-03-05 10:30"})",
         12, 255, 65535, "SN 01"},
        {R"({"WIDE":1e3,"SMALL":0,"SEQ_NUM":-3,"FROM":"2024-03-05 10:30","NAME":"","TYPE":"EVERY_KIND"})", -3, 0,
         1000, ""},
        {" \n{\"TYPE\":\"EVERY_KIND\",\"SEQ_NUM\":\"-2147483648\",\"NAME\":\"a\\\"b\\u00e9\",\"SMALL\":\"007\","
         "\"WIDE\":2024,\"FROM\":\"2024-03-05 10:30\",\"EXTRA\":[1,{}]}\r\n",
         -2147483648LL, 7, 2024, "a\"b\xc3\xa9"},
    };
    for (const auto &c : cases) {
        const auto parsed = parse_machine_request(c.text, kinds_table());
        ASSERT_TRUE(parsed.request) << c.text << ": " << parsed.failure.reason;
        const Args &args = parsed.request->args;
        EXPECT_EQ(args[0].number, c.seq) << c.text;
        EXPECT_EQ(args[1].text, c.name) << c.text;
        EXPECT_EQ(args[2].number, c.small) << c.text;
        EXPECT_EQ(args[3].number, c.wide) << c.text;
        EXPECT_EQ(args[4].stamp.day, 5);
        EXPECT_EQ(args[4].stamp.month, 3);
        EXPECT_EQ(args[4].stamp.year, 2024);
        EXPECT_EQ(args[4].stamp.hour, 10);
        EXPECT_EQ(args[4].stamp.minute, 30);
    }
    // A TYPE of its own for a row whose answer TYPE is shared.
    EXPECT_EQ(parse_machine_request(R"({"TYPE":"SHARED","SEQ_NUM":1})", kinds_table()).request->row->word, "other");
    EXPECT_EQ(parse_machine_request(R"({"TYPE":"GET_DP_FILE_CONTENT","SEQ_NUM":1})", kinds_table()).request->row->word,
              "content dp");
}

TEST(MachineRequests, BadRequestsSayWhatIsWrongAndEchoWhatCouldBeRead) {
    struct Case {
        std::string text;
        std::string type, seq_num, reason;
    };
    const std::string good_rest = R"("NAME":"n","SMALL":1,"WIDE":2,"FROM":"2024-03-05 10:30")";
    auto every_kind = [&](const std::string &members) {
        return "{\"TYPE\":\"EVERY_KIND\"," + members + "}";
    };
    const Case cases[] = {
        // Not one JSON object.
        {"", "UNKNOWN", "", "not a JSON object"},
        {"meters 1", "UNKNOWN", "", "not a JSON object"},
        {"[{\"TYPE\":\"EVERY_KIND\"}]", "UNKNOWN", "", "not a JSON object"},
        {"\"TYPE\"", "UNKNOWN", "", "not a JSON object"},
        {every_kind("\"SEQ_NUM\":1," + good_rest) + " {}", "UNKNOWN", "", "not a JSON object"},
        {"{\"TYPE\":\"EVERY_KIND\",\"SEQ_NUM\":\"1\"", "UNKNOWN", "", "not a JSON object"},
        {std::string("{\"TYPE\":\"EVERY_KIND\",\"SEQ_NUM\":\"1") + '\0' + "\"}", "UNKNOWN", "", "not a JSON object"},
        // TYPE.
        {R"({"SEQ_NUM":"5"})", "UNKNOWN", "5", "TYPE missing"},
        {R"({"TYPE":7,"SEQ_NUM":5})", "UNKNOWN", "5", "TYPE must be a string"},
        {R"({"TYPE":"every_kind","SEQ_NUM":"6"})", "every_kind", "6", "unknown TYPE"},
        {R"({"TYPE":"","SEQ_NUM":"6"})", "", "6", "unknown TYPE"},
        // SEQ_NUM.
        {every_kind(good_rest), "EVERY_KIND", "", "SEQ_NUM missing"},
        {every_kind("\"SEQ_NUM\":\"12a\"," + good_rest), "EVERY_KIND", "",
         "SEQ_NUM must be a whole number from -2147483648 to 2147483647, not \"12a\""},
        {every_kind("\"SEQ_NUM\":1.5," + good_rest), "EVERY_KIND", "",
         "SEQ_NUM must be a whole number from -2147483648 to 2147483647, not \"1.5\""},
        {every_kind("\"SEQ_NUM\":2147483648," + good_rest), "EVERY_KIND", "",
         "SEQ_NUM must be a whole number from -2147483648 to 2147483647, not \"2147483648\""},
        {every_kind("\"SEQ_NUM\":true," + good_rest), "EVERY_KIND", "", "SEQ_NUM must be a string or a whole number"},
        // The other arguments, each checked as on the command line.
        {every_kind(R"("SEQ_NUM":9,"NAME":5,"SMALL":1,"WIDE":2,"FROM":"2024-03-05 10:30")"), "EVERY_KIND", "9",
         "NAME must be a string"},
        {every_kind(R"("SEQ_NUM":9,"NAME":null,"SMALL":1,"WIDE":2,"FROM":"2024-03-05 10:30")"), "EVERY_KIND", "9",
         "NAME must be a string"},
        {every_kind(R"("SEQ_NUM":9,"NAME":"n","SMALL":"256","WIDE":2,"FROM":"2024-03-05 10:30")"), "EVERY_KIND", "9",
         "SMALL must be a whole number from 0 to 255, not \"256\""},
        {every_kind(R"("SEQ_NUM":9,"NAME":"n","SMALL":1,"WIDE":-1,"FROM":"2024-03-05 10:30")"), "EVERY_KIND", "9",
         "WIDE must be a whole number from 0 to 65535, not \"-1\""},
        {every_kind(R"("SEQ_NUM":9,"NAME":"n","SMALL":1,"WIDE":[2],"FROM":"2024-03-05 10:30")"), "EVERY_KIND", "9",
         "WIDE must be a string or a whole number"},
        {every_kind(R"("SEQ_NUM":9,"NAME":"n","SMALL":1,"WIDE":2,"FROM":"2024-03-05")"), "EVERY_KIND", "9",
         "FROM must be a time as YYYY-MM-DD HH:MM, not \"2024-03-05\""},
        {every_kind(R"("SEQ_NUM":9,"NAME":"n","SMALL":1,"WIDE":2,"FROM":202403051030)"), "EVERY_KIND", "9",
         "FROM must be a string"},
    };
    for (const auto &c : cases) {
        const auto parsed = parse_machine_request(c.text, kinds_table());
        EXPECT_FALSE(parsed.request) << c.text;
        EXPECT_EQ(parsed.failure.type, c.type) << c.text;
        EXPECT_EQ(parsed.failure.seq_num, c.seq_num) << c.text;
        EXPECT_EQ(parsed.failure.reason, c.reason) << c.text;
    }
}

// A load-survey range must name times that exist and run forward; START
// equal to END is a range of one instant.
TEST(MachineRequest, RangeTimesExistAndRunForward) {
    const auto range = [](const char *start, const char *end) {
        return parse_machine_request(std::string(R"({"TYPE":"OD_LS_RANGE","SEQ_NUM":4,"MET_SERNUM":"SN1","START":")") +
                                     start + R"(","END":")" + end + R"("})");
    };
    struct Case {
        const char *start, *end;
        const char *reason;  // empty: accepted
    };
    const Case cases[] = {
        {"2024-03-05 10:30", "2024-03-05 10:30", ""},
        {"2024-02-29 00:00", "2024-03-01 00:00", ""},
        {"2024-02-31 23:59", "2024-03-05 10:30", "START must be a time that exists, not \"2024-02-31 23:59\""},
        {"2024-03-05 10:30", "2023-02-29 12:00", "END must be a time that exists, not \"2023-02-29 12:00\""},
        {"2024-03-05 10:30", "2024-03-05 24:00", "END must be a time as YYYY-MM-DD HH:MM, not \"2024-03-05 24:00\""},
        {"2024-03-05 10:31", "2024-03-05 10:30", "START must not be after END"},
    };
    for (const Case &c : cases) {
        const auto parsed = range(c.start, c.end);
        EXPECT_EQ(parsed.request.has_value(), *c.reason == '\0') << c.start << " " << c.end;
        EXPECT_EQ(parsed.failure.reason, c.reason) << c.start << " " << c.end;
        if (!parsed.request) {
            EXPECT_EQ(parsed.failure.type, "OD_LS_RANGE");
        }
    }
}

TEST(FailureAnswer, HasTheEnvelopeOfTheAnswersAndEscapesWhatItEchoes) {
    EXPECT_EQ(dcu::host::failure_answer({"OD_BILLING", "7", "MET_SERNUM missing"}),
              "{\n\"TYPE\":\"OD_BILLING\",\n\"SEQ_NUM\":\"7\",\n\"CMD_TYPE\":\"OD_MESSAGE\",\n"
              "\"CMD_STATUS\":\"FAILURE\",\n\"DATA\":\n{\n\"REASON\":\"MET_SERNUM missing\"\n}\n}\n");

    // A TYPE with a quote, a backslash, control characters and a byte that is
    // not UTF-8, as cJSON hands it over.
    const auto parsed = parse_machine_request("{\"TYPE\":\"A\\\"B\\\\C\\n\\u0001\xff\",\"SEQ_NUM\":3}", kinds_table());
    ASSERT_FALSE(parsed.request);
    const std::string answer = dcu::host::failure_answer(parsed.failure);
    EXPECT_EQ(answer, "{\n\"TYPE\":\"A\\\"B\\\\C\\n\\u0001\\u00ff\",\n\"SEQ_NUM\":\"3\",\n"
                      "\"CMD_TYPE\":\"OD_MESSAGE\",\n"
                      "\"CMD_STATUS\":\"FAILURE\",\n\"DATA\":\n{\n\"REASON\":\"unknown TYPE\"\n}\n}\n");
    EXPECT_EQ(dcu::test::strict_json_error(answer), "");

    const auto quoted = parse_machine_request(
        R"({"TYPE":"EVERY_KIND","SEQ_NUM":1,"NAME":"n","SMALL":"1\"}","WIDE":2,"FROM":"2024-03-05 10:30"})",
        kinds_table());
    EXPECT_EQ(dcu::test::strict_json_error(dcu::host::failure_answer(quoted.failure)), "");
}

// cJSON decodes \u0000 into a NUL inside its C string: a value holding one
// would reach a handler cut short. Refused wherever it is, names included;
// what is echoed comes only from members without one.
TEST(MachineRequests, AnEscapedNulAnywhereIsRefusedAndNothingIsCut) {
    const std::string content = R"("TYPE":"GET_BILL_FILE_CONTENT","SEQ_NUM":7,"MET_SERNUM":"SN01",)"
                                R"("FILE_NAME":"billing","VIEW_TYPE":"V1")";
    struct Case {
        std::string text;
        std::string type, seq_num, reason;
    };
    const Case cases[] = {
        {"{" + content + R"(,"DIR_NAME":"meter_id_1\u0000/../../../../etc"})", "GET_BILL_FILE_CONTENT", "7",
         "DIR_NAME holds a NUL character"},
        {R"({"TYPE":"GET_METER_SER_LIST","SEQ_NUM":"9\u0000abc"})", "GET_METER_SER_LIST", "",
         "SEQ_NUM holds a NUL character"},
        {R"({"TYPE":"OD_MID_NIGHT","SEQ_NUM":1,"MET_SERNUM":"SN01","MONTH":"3\u0000","YEAR":2024})", "OD_MID_NIGHT",
         "1", "MONTH holds a NUL character"},
        {R"({"SEQ_NUM":5,"TYPE":"GET_METER_SER_LIST\u0000x"})", "UNKNOWN", "5", "TYPE holds a NUL character"},
        {R"({"TYPE":"\u0000","SEQ_NUM":5})", "UNKNOWN", "5", "TYPE holds a NUL character"},
        // Members the request does not take.
        {R"({"TYPE":"GET_METER_SER_LIST","SEQ_NUM":3,"NOTE":"a\u0000"})", "GET_METER_SER_LIST", "3",
         "NOTE holds a NUL character"},
        {R"({"TYPE":"GET_METER_SER_LIST","NOTE":[1,{"k":["x","\u0000"]}],"SEQ_NUM":3})", "GET_METER_SER_LIST", "3",
         "NOTE holds a NUL character"},
        {R"({"TYPE":"GET_METER_SER_LIST","SEQ_NUM":3,"NOTE":{"a":"b","\u0000":1}})", "GET_METER_SER_LIST", "3",
         "NOTE holds a NUL character"},
        {R"({"TYPE":"GET_METER_SER_LIST","SEQ_NUM":3,")" + std::string(100, 'N') + R"(":"\u0000"})",
         "GET_METER_SER_LIST", "3", std::string(64, 'N') + "... holds a NUL character"},
        // A NUL in a name would cut it to one the request takes.
        {R"({"TYPE":"OD_BILLING","SEQ_NUM":4,"MET_SERNUM\u0000x":"SN01"})", "OD_BILLING", "4",
         "a member name holds a NUL character"},
        {R"({"TYPE\u0000":"OD_BILLING","TYPE":"GET_METER_SER_LIST","SEQ_NUM":4})", "UNKNOWN", "4",
         "a member name holds a NUL character"},
        {R"({"SEQ_NUM\u0000":"8","SEQ_NUM":"9","TYPE":"GET_METER_SER_LIST"})", "GET_METER_SER_LIST", "",
         "a member name holds a NUL character"},
        // After other escapes, and an escaped backslash followed by one.
        {"{" + content + R"(,"DIR_NAME":"a\"\\\n\u0000"})", "GET_BILL_FILE_CONTENT", "7",
         "DIR_NAME holds a NUL character"},
        {"{" + content + R"(,"DIR_NAME":"\\\u0000"})", "GET_BILL_FILE_CONTENT", "7", "DIR_NAME holds a NUL character"},
        {"{" + content + R"(,"DIR_NAME":"\u00000"})", "GET_BILL_FILE_CONTENT", "7", "DIR_NAME holds a NUL character"},
    };
    for (const auto &c : cases) {
        const auto parsed = parse_machine_request(c.text);
        EXPECT_FALSE(parsed.request) << c.text;
        EXPECT_EQ(parsed.failure.type, c.type) << c.text;
        EXPECT_EQ(parsed.failure.seq_num, c.seq_num) << c.text;
        EXPECT_EQ(parsed.failure.reason, c.reason) << c.text;
    }
    EXPECT_EQ(dcu::host::failure_answer(parse_machine_request(cases[0].text).failure),
              "{\n\"TYPE\":\"GET_BILL_FILE_CONTENT\",\n\"SEQ_NUM\":\"7\",\n\"CMD_TYPE\":\"OD_MESSAGE\",\n"
              "\"CMD_STATUS\":\"FAILURE\",\n\"DATA\":\n{\n\"REASON\":\"DIR_NAME holds a NUL character\"\n}\n}\n");
}

// Text that only looks like an escaped NUL is a value like any other.
TEST(MachineRequests, TextThatOnlyLooksLikeAnEscapedNulIsTaken) {
    const std::string content = R"({"TYPE":"GET_BILL_FILE_CONTENT","SEQ_NUM":7,"MET_SERNUM":"SN01",)"
                                R"("FILE_NAME":"billing","VIEW_TYPE":"V1","DIR_NAME":)";
    struct Case {
        std::string dir_name_json;
        std::string dir_name;
    };
    const Case cases[] = {
        {R"("\\u0000")", "\\u0000"},
        {R"("\\\\u0000")", "\\\\u0000"},
        {R"("u0000")", "u0000"},
        {R"("\u0001\u000a\u0100")", "\x01\n\xc4\x80"},
        {R"("\"\\u0000\"")", "\"\\u0000\""},
        {R"("meter_id_1","\\u0000":"\\u0000")", "meter_id_1"},
    };
    for (const auto &c : cases) {
        const std::string text = content + c.dir_name_json + "}";
        const auto parsed = parse_machine_request(text);
        ASSERT_TRUE(parsed.request) << text << ": " << parsed.failure.reason;
        EXPECT_EQ(parsed.request->args[2].text, c.dir_name) << text;
    }
}

}  // namespace
