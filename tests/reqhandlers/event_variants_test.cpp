// send_od_event_det11 (the OD_EVENT answer with every step reported) and
// send_od_event_det1 (the event columns printed, nothing sent).
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "tests/reqhandlers/support/host_fixture.hpp"
#include "tests/reqhandlers/support/profile_fixtures.hpp"

namespace {

using namespace dcu::test::profiles;

constexpr const char *kEventSelection = "/srv/www/htdocs/user_event_obis_det.json";
constexpr const char *kEventFile = "/usr/tev/data/DlmsData/meter_id_7/event_3";

class EventVariants : public dcu::test::HandlerTest {
protected:
    // EV7 on port 1, meter 2: meter_id_7.
    void SetUp() override {
        HandlerTest::SetUp();
        serial(1, 2, "EV7");
    }
    std::string event_selection(const std::vector<Selected> &entries) {
        const std::string text = section("EventParams", entries);
        unit_file(kEventSelection, text);
        return text;
    }
    // The lines of the request and of loading a selection file of the given
    // size and count.
    static std::string opening_lines(std::size_t selection_size, int count) {
        const std::string size = std::to_string(selection_size);
        return "Recv od event command for ser_num : EV7, event_type : 3\n>>File Size : " + size +
               "\ntot bytes read from user json file : " + size + "\nStrlen : " + size + "\np_gen_ptr : " +
               std::to_string(count) + "\ntotal NUM_PARAM from User json File : " + std::to_string(count) + "\n";
    }
    // What the handler sent and printed.
    std::pair<std::string, std::string> run(const std::function<int()> &call) {
        dcu::test::host().sent.clear();
        std::string out = stdout_of([&] { EXPECT_EQ(call(), 0); });
        return {dcu::test::host().sent.empty() ? std::string() : sent_text(), out};
    }
};

TEST_F(EventVariants, DetailedAnswerIsTheCommonOneButForItsStatusWord) {
    struct Case {
        const char *name;
        const char *selection;  // null: no selection file
        std::string event_file;
        const char *common_status;
        const char *detailed_status;
    };
    const std::string two = section("EventParams", kTwoOfFour);
    const std::string beyond = "\"EventParams\":{\"NumParams\":\"300\",\"ObisCodeList\":[]}";
    const Case cases[] = {
        {"worked example", two.c_str(), std::string(kBillingFile), "SUCCESS", "SUCCESS"},
        {"header only", two.c_str(), "code-1\tcode-3\n", "SUCCESS", "SUCCESS"},
        {"CR-LF, last column selected", two.c_str(), "x\tcode-3\r\n1\t2\r\n", "SUCCESS", "SUCCESS"},
        {"missing selection file", nullptr, std::string(kBillingFile), "FAILURE", "SUCCESS"},
        {"selection that does not parse", "{}", std::string(kBillingFile), "SUCCESS", "SUCCESS"},
        // A count is never wrapped: the selection is refused, by both.
        {"count beyond 255", beyond.c_str(), std::string(kBillingFile), "FAILURE", "FAILURE"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(root() / "/srv");
        if (c.selection) unit_file(kEventSelection, c.selection);
        unit_file(kEventFile, c.event_file);
        const std::string common = run([] { return send_od_event_det(5, "EV7", 3); }).first;
        const std::string detailed = run([] { return send_od_event_det11(5, "EV7", 3); }).first;
        EXPECT_STRICT_JSON(detailed);
        const std::string common_status = std::string("\"CMD_STATUS\":\"") + c.common_status + "\"";
        ASSERT_NE(common.find(common_status), std::string::npos) << common;
        std::string expected = common;
        expected.replace(common.find(common_status), common_status.size(),
                         std::string("\"CMD_STATUS\":\"") + c.detailed_status + "\"");
        EXPECT_EQ(detailed, expected);
    }
}

TEST_F(EventVariants, DetailedProgressLines) {
    const std::string selection = event_selection(kTwoOfFour);
    unit_file(kEventFile, kBillingFile);
    const auto [text, out] = run([] { return send_od_event_det11(5, "EV7", 3); });
    EXPECT_EQ(out, opening_lines(selection.size(), 2) +
                       "total avl obis is in org file : 4\n"
                       "Idx : 0, Obis found in org obis list at pos : 1\n"
                       "code-1\tcode-1\tName 1\n"
                       "Idx : 2, Obis found in org obis list at pos : 0\n"
                       "code-3\tcode-3\tName 3\n"
                       "total number of  obis match from org file : 2\n"
                       "0\t2\t\n"
                       "total number of  obis line in  org event file : 3\n"
                       "Getting line by line details from file\n"
                       "Name 1,Sending Json text Len : " +
                       std::to_string(text.size()) + "\n");
    EXPECT_EQ(text, answer_head("OD_EVENT", 5, "SUCCESS") +
                        "\"MET_SERNUM\":\"EV7\",\n\"NUM_PARAM\":\"2\",\n\"NUM_ENTRIES\":\"2\",\n" +
                        lists_tail("\"Name 1\",\"Name 3\"\n", "EVENT_DATA",
                                   "{\"V0\":\"a1\",\"V1\":\"a3\"},\n{\"V0\":\"b1\",\"V1\":\"b3\"}\n"));
}

TEST_F(EventVariants, DetailedAnswerWithoutEventFileOrMeterFails) {
    const std::string selection = event_selection(kTwoOfFour);
    struct Case {
        const char *name;
        const char *ser_num;
        std::string out;  // before the length line
    };
    const Case cases[] = {
        {"missing event file", "EV7", opening_lines(selection.size(), 2)},
        {"unknown serial number", "NOPE", "Recv od event command for ser_num : NOPE, event_type : 3\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const auto [text, out] = run([&] { return send_od_event_det11(5, c.ser_num, 3); });
        EXPECT_EQ(text, answer_head("OD_EVENT", 5, "FAILURE") + "\"MET_SERNUM\":\"" + c.ser_num +
                            "\",\n\"NUM_PARAM\":\"0\",\n\"NUM_ENTRIES\":\"0\",\n" + lists_tail("", "EVENT_DATA", ""));
        EXPECT_STRICT_JSON(text);
        EXPECT_EQ(out, c.out + "Sending Json text Len : " + std::to_string(text.size()) + "\n");
    }
}

TEST_F(EventVariants, DumpPrintsTheSelectedColumnsAndSendsNothing) {
    struct Case {
        const char *name;
        std::string event_file;
        std::string out;  // after the selection's lines
    };
    const Case cases[] = {
        {"two columns, two records", std::string(kBillingFile),
         "Total params avaible : 4, in event type 3 file\nTotal Line avaible : 3, in event type 3 file\n"
         "code-1\tcode-1\ncode-3\tcode-3\nName 1,Name 3a1,a3b1,b3"},
        {"header only", "code-3\tcode-1\n",
         "Total params avaible : 2, in event type 3 file\nTotal Line avaible : 1, in event type 3 file\n"
         "code-3\tcode-3\ncode-1\tcode-1\nName 3,Name 1"},
        {"CR-LF and a short record", "code-1\tcode-3\r\nx\r\n",
         "Total params avaible : 2, in event type 3 file\nTotal Line avaible : 2, in event type 3 file\n"
         "code-1\tcode-1\ncode-3\tcode-3\nName 1,Name 3x,"},
        {"empty file", "",
         "Total params avaible : 0, in event type 3 file\nTotal Line avaible : 0, in event type 3 file\n"},
    };
    const std::string selection = event_selection(kTwoOfFour);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        unit_file(kEventFile, c.event_file);
        std::strcpy(json_text, "untouched");
        const auto [text, out] = run([] { return send_od_event_det1(5, "EV7", 3); });
        EXPECT_EQ(out, opening_lines(selection.size(), 2) + c.out);
        EXPECT_TRUE(dcu::test::host().sent.empty());
        EXPECT_STREQ(json_text, "untouched");
    }
}

// A line with fewer values than the header prints an item for each
// selected column it has, and nothing for those it lacks; the items printed
// keep their own commas (every item but the last selected column's).
TEST_F(EventVariants, DumpOfShortLinesPrintsOnlyTheColumnsTheyHave) {
    const std::string selection =
        event_selection({{"code-1", "Name 1"}, {"code-3", "Name 3"}, {"code-4", "Name 4"}});
    unit_file(kEventFile, "code-1\tcode-2\tcode-3\tcode-4\n"
                          "a1\ta2\ta3\ta4\n"  // every value: unchanged
                          "b1\n"                 // code-3 and code-4 missing
                          "c1\tc2\tc3\n"         // code-4 missing: c3 is not the last column's, keeps its comma
                          "\n");                 // an empty line has code-1's value, empty
    const auto [text, out] = run([] { return send_od_event_det1(5, "EV7", 3); });
    EXPECT_EQ(out, opening_lines(selection.size(), 3) +
                       "Total params avaible : 4, in event type 3 file\nTotal Line avaible : 5, in event type 3 file\n"
                       "code-1\tcode-1\ncode-3\tcode-3\ncode-4\tcode-4\n"
                       "Name 1,Name 3,Name 4a1,a3,a4b1,c1,c3,,");
    EXPECT_TRUE(dcu::test::host().sent.empty());
}

TEST_F(EventVariants, DumpWithoutEventFileOrMeter) {
    const std::string selection = event_selection(kTwoOfFour);
    struct Case {
        const char *name;
        const char *ser_num;
        std::string out;
    };
    const Case cases[] = {
        {"missing event file", "EV7",
         opening_lines(selection.size(), 2) + "Can't open event data file : " + (root() / kEventFile).string() +
             ", error : No such file or directory\n"},
        {"unknown serial number", "NOPE",
         "Recv od event command for ser_num : NOPE, event_type : 3\nRecv MeterSerNum : NOPE Not Found\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const auto [text, out] = run([&] { return send_od_event_det1(5, c.ser_num, 3); });
        EXPECT_EQ(out, c.out);
        EXPECT_TRUE(dcu::test::host().sent.empty());
    }
}

}  // namespace
