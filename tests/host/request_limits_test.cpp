// What the host takes in and says back is bounded: machine requests over
// 65536 bytes are refused unread, and a failure answer repeats at most 64
// bytes of any value sent, so it stays under 1 KiB whatever came.
#include <gtest/gtest.h>

#include <string>

#include "host/machine_request.hpp"
#include "host/request_limits.hpp"
#include "tests/support/strict_json.hpp"

namespace {

using dcu::host::echo_of;
using dcu::host::parse_machine_request;

std::string repeated(std::string_view part, std::size_t times) {
    std::string text;
    for (std::size_t i = 0; i < times; ++i) text += part;
    return text;
}

// The failure answer with its texts as they appear in it (escaped).
std::string failure(const std::string &type, const std::string &seq, const std::string &reason) {
    return "{\n\"TYPE\":\"" + type + "\",\n\"SEQ_NUM\":\"" + seq +
           "\",\n\"CMD_TYPE\":\"OD_MESSAGE\",\n\"CMD_STATUS\":\"FAILURE\",\n\"DATA\":\n{\n\"REASON\":\"" + reason +
           "\"\n}\n}\n";
}

TEST(EchoOf, KeepsShortValuesAndCutsLongOnesBetweenCharacters) {
    const std::string a63(63, 'a'), a62(62, 'a'), a61(61, 'a');
    struct Case {
        std::string value, echo;
    };
    const Case cases[] = {
        {"", ""},
        {std::string(64, 'a'), std::string(64, 'a')},
        {std::string(65, 'a'), std::string(64, 'a') + "..."},
        {std::string(100000, 'a'), std::string(64, 'a') + "..."},
        // A character that would end past byte 64 is left out whole.
        {a63 + "\xc3\xa9", a63 + "..."},                                // é: 2 bytes from byte 63
        {a62 + "\xc3\xa9" + "b", a62 + "\xc3\xa9..."},                  // ... ending at byte 64
        {a62 + "\xe2\x82\xac", a62 + "..."},                            // €: 3 bytes
        {a61 + "\xe2\x82\xac" + "b", a61 + "\xe2\x82\xac..."},
        {a61 + "\xf0\x9f\x98\x80", a61 + "..."},                        // 4 bytes
        {repeated("\xf0\x9f\x98\x80", 20), repeated("\xf0\x9f\x98\x80", 16) + "..."},
        // Bytes that are no valid sequence are sent one by one (as \u00XX): each is a character.
        {a63 + "\xff\xff", a63 + "\xff..."},
        {a63 + "\xc3" + "zz", a63 + "\xc3..."},                         // a lead byte without its follower
        {a63 + "\xed\xa0\x80", a63 + "\xed..."},                        // a surrogate
        {a63 + "\xe0\x80\xaf", a63 + "\xe0..."},                        // an overlong form
        {repeated("\x80", 70), repeated("\x80", 64) + "..."},
        {std::string(70, '"'), std::string(64, '"') + "..."},           // escaping comes later
    };
    for (const auto &c : cases) EXPECT_EQ(echo_of(c.value), c.echo) << testing::PrintToString(c.value);
}

// Worst cases within the size limit: long values of the characters that take
// the most room once escaped, wherever a value is repeated.
TEST(FailureAnswer, StaysUnderOneKibibyteWhateverWasSent) {
    const std::string controls = repeated("\\u0001", 10000);   // each 6 bytes in the answer again
    const std::string not_utf8 = repeated("\xff", 60000);      // each \u00ff
    const std::string escaped_controls = repeated("\\u0001", 64) + "...";
    struct Case {
        std::string request;
        std::string answer;
    };
    const Case cases[] = {
        {R"({"TYPE":")" + controls + R"(","SEQ_NUM":1})", failure(escaped_controls, "1", "unknown TYPE")},
        {R"({"TYPE":")" + not_utf8 + R"(","SEQ_NUM":1})",
         failure(repeated("\\u00ff", 64) + "...", "1", "unknown TYPE")},
        {R"({"TYPE":")" + repeated("\\\"", 30000) + R"(","SEQ_NUM":1})",
         failure(repeated("\\\"", 64) + "...", "1", "unknown TYPE")},
        {R"({"TYPE":"GET_COMMN_STATUS_MESSAGE","SEQ_NUM":")" + controls + R"("})",
         failure("GET_COMMN_STATUS_MESSAGE", "",
                 "SEQ_NUM must be a whole number from -2147483648 to 2147483647, not \\\"" + escaped_controls +
                     "\\\"")},
        {R"({"TYPE":"OD_MID_NIGHT","SEQ_NUM":2,"MET_SERNUM":"SN01","MONTH":")" + not_utf8 + R"(","YEAR":2024})",
         failure("OD_MID_NIGHT", "2",
                 "MONTH must be a whole number from 0 to 255, not \\\"" + repeated("\\u00ff", 64) + "...\\\"")},
        {R"({"TYPE":"OD_LS_RANGE","SEQ_NUM":3,"MET_SERNUM":"SN01","START":")" + controls +
             R"(","END":"2024-03-06 00:00"})",
         failure("OD_LS_RANGE", "3", "START must be a time as YYYY-MM-DD HH:MM, not \\\"" + escaped_controls + "\\\"")},
        {R"({"TYPE":"GET_METER_SER_LIST","SEQ_NUM":4,")" + not_utf8 + R"(":"\u0000"})",
         failure("GET_METER_SER_LIST", "4", repeated("\\u00ff", 64) + "... holds a NUL character")},
    };
    for (const auto &c : cases) {
        ASSERT_LE(c.request.size(), dcu::host::kMaxRequestBytes);
        const auto parsed = parse_machine_request(c.request);
        ASSERT_FALSE(parsed.request) << c.answer;
        const std::string answer = dcu::host::failure_answer(parsed.failure);
        EXPECT_EQ(answer, c.answer);
        EXPECT_LT(answer.size(), 1024u);
        EXPECT_EQ(dcu::test::strict_json_error(answer), "") << answer;
    }
}

// Anything over the limit is refused by its size alone, JSON or not.
TEST(MachineRequests, OverTheSizeLimitAreRefusedUnread) {
    const std::string head = R"({"TYPE":"GET_METER_SER_LIST","SEQ_NUM":12,"PAD":")";
    const auto padded_to = [&](std::size_t size) { return head + std::string(size - head.size() - 2, 'p') + "\"}"; };
    const std::string at_limit = padded_to(65536);
    ASSERT_EQ(at_limit.size(), 65536u);
    const auto answered = parse_machine_request(at_limit);
    ASSERT_TRUE(answered.request) << answered.failure.reason;
    EXPECT_EQ(answered.request->row->word, "meters");
    EXPECT_EQ(answered.request->args[0].number, 12);

    const std::string refusal = failure("UNKNOWN", "", "request larger than 65536 bytes");
    for (const std::string &request :
         {padded_to(65537), at_limit + " ", std::string(65537, '{'), padded_to(1 << 20)}) {
        const auto refused = parse_machine_request(request);
        ASSERT_FALSE(refused.request);
        EXPECT_EQ(dcu::host::failure_answer(refused.failure), refusal) << request.size();
    }
}

}  // namespace
