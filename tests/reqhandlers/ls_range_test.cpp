// The load-survey range command as the store receives it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/reqhandlers/support/host_fixture.hpp"
#include "tests/reqhandlers/support/round_trips.hpp"

namespace {

using Commands = std::vector<std::vector<std::string>>;

// A time stamp as the head-end's record carries it; bytes 4 and 5 hold noise.
ls_time_stamp stamp(int year, int month, int day, int hour, int minute) {
    ls_time_stamp s{};
    s.day = static_cast<uint8_t>(day);
    s.month = static_cast<uint8_t>(month);
    s.hour = static_cast<uint8_t>(hour);
    s.minute = static_cast<uint8_t>(minute);
    s.unused[0] = 0xA5;
    s.unused[1] = 0xFF;
    s.year = static_cast<uint16_t>(year);
    return s;
}

class LsRange : public dcu::test::HandlerTest {
protected:
    void SetUp() override {
        HandlerTest::SetUp();
        serial(1, 3, "SN13");
    }
    // The commands the store received for one request, without find_ser_num's 20 reads.
    Commands commands_of(const char *ser_num, ls_time_stamp start, ls_time_stamp end) {
        dcu::test::Monitor monitor(store().port());
        const std::string out = stdout_of([&] { send_od_ls_range_det(1, ser_num, start, end); });
        EXPECT_EQ(out, "");
        EXPECT_TRUE(dcu::test::host().sent.empty()) << "the range request answers nothing";
        auto seen = monitor.take();
        EXPECT_GE(seen.size(), 20u);
        seen.erase(seen.begin(), seen.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(seen.size(), 20)));
        return seen;
    }
};

// The three writes land together: one transaction, the pending flag first.
const Commands kMarchCommand{
    {"MULTI"},
    {"hmset", "Port1Met3OdLsCmd", "NeedToRead", "1"},
    {"hmset", "Port1Met3OdLsCmd", "Day", "5", "Mon", "3", "Year", "2024", "Hour", "10", "Min", "30"},
    {"hmset", "Port1Met3OdLsCmd", "Day2", "6", "Mon2", "3", "Year2", "2024", "Hour2", "0", "Min2", "0"},
    {"EXEC"},
};

TEST_F(LsRange, PendingFlagFirstThenStartAndEnd) {
    EXPECT_EQ(commands_of("SN13", stamp(2024, 3, 5, 10, 30), stamp(2024, 3, 6, 0, 0)), kMarchCommand);
    EXPECT_EQ(client().hgetall("Port1Met3OdLsCmd"),
              (std::map<std::string, std::string>{{"NeedToRead", "1"}, {"Day", "5"}, {"Mon", "3"}, {"Year", "2024"},
                                                  {"Hour", "10"}, {"Min", "30"}, {"Day2", "6"}, {"Mon2", "3"},
                                                  {"Year2", "2024"}, {"Hour2", "0"}, {"Min2", "0"}}));
}

TEST_F(LsRange, ARepeatedRequestWritesTheSameCommandAgain) {
    send_od_ls_range_det(1, "SN13", stamp(2023, 12, 31, 23, 59), stamp(2024, 1, 1, 0, 15));
    // The meter-reading process has taken the first command.
    client().hset("Port1Met3OdLsCmd", "NeedToRead", "0");
    EXPECT_EQ(commands_of("SN13", stamp(2024, 3, 5, 10, 30), stamp(2024, 3, 6, 0, 0)), kMarchCommand);
    EXPECT_EQ(client().hget("Port1Met3OdLsCmd", "NeedToRead"), "1");
    EXPECT_EQ(client().hget("Port1Met3OdLsCmd", "Year"), "2024");
}

TEST_F(LsRange, ValuesAreWrittenAsUnsignedDecimals) {
    // The last minute of the largest year the record holds: no sign, the year from both its bytes.
    auto seen = commands_of("SN13", stamp(2024, 1, 2, 3, 4), stamp(65535, 12, 31, 23, 59));
    ASSERT_EQ(seen.size(), 5u);
    EXPECT_EQ(seen[2][7], "2024");
    EXPECT_EQ(seen[3], (std::vector<std::string>{"hmset", "Port1Met3OdLsCmd", "Day2", "31", "Mon2", "12", "Year2",
                                                 "65535", "Hour2", "23", "Min2", "59"}));
}

// A time that no clock shows is never handed to the meter-reading process:
// nothing is written, and the handler says why.
TEST_F(LsRange, ATimeThatDoesNotExistWritesNothing) {
    struct Case {
        ls_time_stamp start, end;
        const char *line;
    };
    const ls_time_stamp good = stamp(2024, 3, 5, 10, 30);
    const Case cases[] = {
        {stamp(2024, 2, 31, 23, 59), good, "start time 2024-02-31 23:59"},
        {stamp(2023, 2, 29, 0, 0), good, "start time 2023-02-29 00:00"},
        {good, stamp(2024, 4, 31, 0, 0), "end time 2024-04-31 00:00"},
        {good, stamp(2024, 3, 6, 24, 0), "end time 2024-03-06 24:00"},
        {good, stamp(2024, 3, 6, 23, 60), "end time 2024-03-06 23:60"},
        {stamp(2024, 13, 1, 0, 0), good, "start time 2024-13-01 00:00"},
        {stamp(2024, 0, 1, 0, 0), good, "start time 2024-00-01 00:00"},
        {good, stamp(2024, 3, 0, 0, 0), "end time 2024-03-00 00:00"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        dcu::test::Monitor monitor(store().port());
        const std::string out = stdout_of([&] { send_od_ls_range_det(1, "SN13", c.start, c.end); });
        EXPECT_EQ(out, std::string("Od ls range ") + c.line + " does not exist, command not written\n");
        EXPECT_EQ(monitor.take().size(), 20u);  // the serial-number reads only
        EXPECT_TRUE(client().hgetall("Port1Met3OdLsCmd").empty());
    }
    // 29 February of a leap year exists.
    EXPECT_EQ(commands_of("SN13", stamp(2024, 2, 29, 0, 0), stamp(2024, 2, 29, 23, 59)).size(), 5u);
}

TEST_F(LsRange, AnUnknownMeterGetsNoCommand) {
    EXPECT_EQ(commands_of("NOPE", stamp(2024, 3, 5, 10, 30), stamp(2024, 3, 6, 0, 0)), Commands{});
    EXPECT_EQ(commands_of("", stamp(2024, 3, 5, 10, 30), stamp(2024, 3, 6, 0, 0)), Commands{});
    EXPECT_EQ(client().keys("*OdLsCmd"), std::vector<std::string>{});
}

// A command the store refuses is not taken for one that landed: the host's
// log names the request and the reason, and nothing of it is written.
TEST_F(LsRange, ACommandTheStoreRefusesIsLoggedWithItsSequenceNumber) {
    client().run({"SET", "Port1Met3OdLsCmd", "not a hash"});
    dcu::test::host().log.clear();
    send_od_ls_range_det(42, "SN13", stamp(2024, 3, 5, 10, 30), stamp(2024, 3, 6, 0, 0));
    ASSERT_EQ(dcu::test::host().log.size(), 2u);  // find_ser_num's line, then the refusal
    EXPECT_EQ(dcu::test::host().log[1].rfind("0 send_od_ls_range_det() : Range command of SEQ_NUM 42 for "
                                             "Port1Met3OdLsCmd not stored: WRONGTYPE ",
                                             0),
              0u)
        << dcu::test::host().log[1];
    auto value = client().run({"GET", "Port1Met3OdLsCmd"});
    ASSERT_NE(value, nullptr);
    EXPECT_STREQ(value->str, "not a hash");
}

TEST_F(LsRange, TwoRoundTrips) {
    dcu::test::RoundTrips trips(client());
    send_od_ls_range_det(1, "SN13", stamp(2024, 3, 5, 10, 30), stamp(2024, 3, 6, 0, 0));
    EXPECT_EQ(trips.count(), 2);  // the serial numbers, then the command
}

}  // namespace
