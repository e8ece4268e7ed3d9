// OD_INST: whole answers, progress lines, the commands the store sees.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/reqhandlers/support/host_fixture.hpp"
#include "tests/reqhandlers/support/round_trips.hpp"

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

constexpr const char *kSelectionFile = "/srv/www/htdocs/user_inst_obis_det.json";
constexpr const char *kMeterHash = "Port1Met3inst_info";
constexpr const char *kStatusHash = "SerPort1Met3Status";

std::string answer_text(std::string_view seq, std::string_view cmd_status, std::string_view data) {
    return "{\n\"TYPE\":\"OD_INST\",\n\"SEQ_NUM\":\"" + std::string(seq) +
           "\",\n\"CMD_TYPE\":\"OD_MESSAGE\",\n\"CMD_STATUS\":\"" + std::string(cmd_status) + "\",\n\"DATA\":\n{\n" +
           std::string(data) + "}\n}\n";
}

// The DATA members: MET_SERNUM SN01, COMM_STATUS, NUM_PARAM and INST_PARAM
// with one object per (param, val), as the escaped texts of the answer.
std::string data_text(std::string_view comm_status, const Pairs &params) {
    std::string text = "\"MET_SERNUM\":\"SN01\",\n\"COMM_STATUS\":\"" + std::string(comm_status) +
                       "\",\n\"NUM_PARAM\":\"" + std::to_string(params.size()) + "\",\n\"INST_PARAM\":\n[\n";
    for (std::size_t i = 0; i < params.size(); ++i) {
        if (i > 0) text += ",\n";
        text += "{\n\"param\":\"" + params[i].first + "\",\n\"val\":\"" + params[i].second + "\"\n}";
    }
    return text + (params.empty() ? "]\n" : "\n]\n");
}

// A selection file with the section InstParams: its NumParams text and the
// (obis, assign) items of its ObisCodeList.
std::string selection_text(std::string_view num_params, const Pairs &items) {
    std::string text = "\"InstParams\":\n{\n\"NumParams\":\"" + std::string(num_params) + "\",\n\"ObisCodeList\":\n[\n";
    for (std::size_t i = 0; i < items.size(); ++i)
        text += (i > 0 ? ",\n" : "") + ("{\"obis\":\"" + items[i].first + "\",\"assign\":\"" + items[i].second + "\"}");
    return text + "\n]\n}\n";
}

class Instantaneous : public dcu::test::HandlerTest {
protected:
    void SetUp() override {
        HandlerTest::SetUp();
        serial(1, 3, "SN01");
    }
    // The meter's hash: NUM_PARAM (left out when null), then Obis_k and Value_k from k = 1.
    void readings(const char *num_param, const Pairs &rows) {
        if (num_param) client().hset(kMeterHash, "NUM_PARAM", num_param);
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const std::string k = std::to_string(i + 1);
            client().hset(kMeterHash, "Obis_" + k, rows[i].first);
            client().hset(kMeterHash, "Value_" + k, rows[i].second);
        }
    }
    void status(const std::string &code) { client().hset(kStatusHash, "VALUE", code); }
    void selection(std::string_view num_params, const Pairs &items) const {
        unit_file(kSelectionFile, selection_text(num_params, items));
    }
    std::string selection_path() const { return (root() / kSelectionFile).string(); }
    // Runs the handler for SN01 and returns its progress lines.
    std::string request(int seq_num, const char *ser_num = "SN01") {
        return stdout_of([&] { EXPECT_EQ(send_od_inst_det(seq_num, ser_num), 0); });
    }
};

TEST_F(Instantaneous, AnswerAndProgressLinesOfATypicalRequest) {
    readings("1", {{"P1", "231.4"}});
    status("1");
    const std::string file = selection_text("2", {{"P1", "P1"}, {"P2", "P2"}});
    unit_file(kSelectionFile, file);

    const std::string out = request(7);
    const std::string text = sent_text();
    EXPECT_EQ(text,
              "{\n"
              "\"TYPE\":\"OD_INST\",\n"
              "\"SEQ_NUM\":\"7\",\n"
              "\"CMD_TYPE\":\"OD_MESSAGE\",\n"
              "\"CMD_STATUS\":\"SUCCESS\",\n"
              "\"DATA\":\n"
              "{\n"
              "\"MET_SERNUM\":\"SN01\",\n"
              "\"COMM_STATUS\":\"Yes\",\n"
              "\"NUM_PARAM\":\"2\",\n"
              "\"INST_PARAM\":\n"
              "[\n"
              "{\n"
              "\"param\":\"P1\",\n"
              "\"val\":\"231.4\"\n"
              "},\n"
              "{\n"
              "\"param\":\"P2\",\n"
              "\"val\":\"NA\"\n"
              "}\n"
              "]\n"
              "}\n"
              "}\n");
    EXPECT_STRICT_JSON(text);
    const std::string size = std::to_string(file.size());
    EXPECT_EQ(out, "total NUM_PARAM from meter : 1\n"
                   ">>File Size : " + size + "\n"
                   "tot bytes read from user json file : " + size + "\n"
                   "Strlen : " + size + "\n"
                   "p_gen_ptr : 2\n"
                   "total NUM_PARAM from File : 2\n"
                   "Sending Json text Len : " + std::to_string(text.size()) + "\n");
}

TEST_F(Instantaneous, JoinOfReadingsAndSelection) {
    struct Case {
        const char *name;
        const char *num_param;  // the meter's NUM_PARAM; null: no such field
        Pairs rows;             // the meter's (Obis_k, Value_k)
        std::optional<std::pair<std::string, Pairs>> selected;  // NumParams and items; nothing: no file
        const char *cmd_status;
        Pairs expected;  // (param, val) as answered
    };
    const Pairs p1_p2{{"P1", "Name 1"}, {"P2", "Name 2"}};
    const Case cases[] = {
        {"meter count 0", "0", {{"P1", "1"}}, {{"2", p1_p2}}, "SUCCESS", {{"Name 1", "NA"}, {"Name 2", "NA"}}},
        {"no NUM_PARAM", nullptr, {{"P1", "1"}}, {{"1", {{"P1", "A"}}}}, "SUCCESS", {{"A", "NA"}}},
        {"selection count 0", "1", {{"P1", "1"}}, {{"0", p1_p2}}, "SUCCESS", {}},
        {"no selection file", "1", {{"P1", "1"}}, std::nullopt, "SUCCESS", {}},
        {"NumParams beyond the items", "2", {{"P1", "1"}, {"P2", "2"}}, {{"3", p1_p2}}, "SUCCESS",
         {{"Name 1", "1"}, {"Name 2", "2"}, {"", "NA"}}},
        {"one parameter", "2", {{"P1", "1"}, {"P2", "2"}}, {{"1", {{"P2", "Only"}}}}, "SUCCESS", {{"Only", "2"}}},
        {"selection order, not meter order", "2", {{"P1", "1"}, {"P2", "2"}}, {{"2", {{"P2", "B"}, {"P1", "A"}}}},
         "SUCCESS", {{"B", "2"}, {"A", "1"}}},
        {"code held twice by the meter", "2", {{"P1", "first"}, {"P1", "second"}}, {{"1", {{"P1", "A"}}}}, "SUCCESS",
         {{"A", "first"}}},
        {"code selected twice", "1", {{"P1", "1"}}, {{"2", {{"P1", "A"}, {"P1", "B"}}}}, "SUCCESS",
         {{"A", "1"}, {"B", "1"}}},
        {"case matters", "1", {{"p1", "1"}}, {{"1", {{"P1", "A"}}}}, "SUCCESS", {{"A", "NA"}}},
        {"empty code matches nothing", "1", {{"", "orphan"}}, {{"1", {{"", "Blank"}}}}, "SUCCESS",
         {{"Blank", "NA"}}},
        {"long texts kept whole", "1", {{std::string(80, 'c'), std::string(40, 'v')}},
         {{"1", {{std::string(80, 'c'), std::string(70, 'a')}}}}, "SUCCESS",
         {{std::string(70, 'a'), std::string(40, 'v')}}},
        {"escaped", "1", {{"P1", "2\\3"}}, {{"1", {{"P1", "Volt \\\"L1\\\""}}}}, "SUCCESS",
         {{"Volt \\\"L1\\\"", "2\\\\3"}}},
        {"meter count 260 refused", "260", {{"P1", "1"}, {"P2", "2"}, {"P3", "3"}, {"P4", "4"}}, {{"1", {{"P4", "A"}}}},
         "FAILURE", {{"A", "NA"}}},
        {"negative meter count refused", "-1", {{"P1", "1"}}, {{"1", {{"P1", "A"}}}}, "FAILURE", {{"A", "NA"}}},
        {"meter count 255", "255", {{"P1", "1"}}, {{"1", {{"P1", "A"}}}}, "SUCCESS", {{"A", "1"}}},
        {"selection count 300 refused", "1", {{"P1", "1"}}, {{"300", {{"P1", "A"}}}}, "FAILURE", {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        client().del(kMeterHash);
        std::filesystem::remove(root() / kSelectionFile);
        dcu::test::host().sent.clear();
        readings(c.num_param, c.rows);
        status("0");
        if (c.selected) selection(c.selected->first, c.selected->second);
        request(12);
        const std::string text = sent_text();
        EXPECT_EQ(text, answer_text("12", c.cmd_status, data_text("No", c.expected)));
        EXPECT_STRICT_JSON(text);
    }
}

TEST_F(Instantaneous, StatusCodeSelectsAWordAndNeverReadsPastTheTable) {
    struct Case {
        std::optional<std::string> stored;
        const char *word;
    };
    const Case cases[] = {
        {std::nullopt, "No"}, {"", "No"},  {"0", "No"}, {"1", "Yes"}, {"2", "Not Configured"},
        {"3", ""},            {"4", ""},   {"260", ""}, {"-1", ""},
        // A value without leading digits reads as 0, as the communication-status answer reads it.
        {"busy", "No"},       {"abc", "No"}, {"1abc", "Yes"},
        {" 2", "Not Configured"},
    };
    selection("0", {});
    for (const auto &c : cases) {
        SCOPED_TRACE(c.stored.value_or("(none)"));
        client().del(kStatusHash);
        dcu::test::host().sent.clear();
        if (c.stored) status(*c.stored);
        request(1);
        EXPECT_EQ(sent_text(), answer_text("1", "SUCCESS", data_text(c.word, {})));
    }
}

TEST_F(Instantaneous, ProgressLinesForMissingStoreValues) {
    struct Case {
        const char *name;
        const char *num_param;
        std::vector<std::pair<std::optional<std::string>, std::optional<std::string>>> rows;
        std::string lines;  // before the selection's lines
    };
    const Case cases[] = {
        {"NUM_PARAM missing", nullptr, {}, "HMGET Failed to get NUM_PARAM\ntotal NUM_PARAM from meter : 0\n"},
        {"value and code missing", "3", {{"A", "1"}, {"B", std::nullopt}, {std::nullopt, "3"}},
         "total NUM_PARAM from meter : 3\nHMGET Failed to get param value for idx : 1\n"
         "HMGET Failed to get param obis for idx : 2\n"},
        {"reading beyond the hash", "2", {{"A", "1"}},
         "total NUM_PARAM from meter : 2\nHMGET Failed to get param obis for idx : 1\n"
         "HMGET Failed to get param value for idx : 1\n"},
        {"count out of range", "999", {{"A", "1"}},
         "NUM_PARAM 999 from meter out of range 0 to 255\ntotal NUM_PARAM from meter : 0\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        client().del(kMeterHash);
        dcu::test::host().sent.clear();
        if (c.num_param) client().hset(kMeterHash, "NUM_PARAM", c.num_param);
        for (std::size_t i = 0; i < c.rows.size(); ++i) {
            const std::string k = std::to_string(i + 1);
            if (c.rows[i].first) client().hset(kMeterHash, "Obis_" + k, *c.rows[i].first);
            if (c.rows[i].second) client().hset(kMeterHash, "Value_" + k, *c.rows[i].second);
        }
        const std::string out = request(3);
        EXPECT_EQ(out, c.lines + "can't Find original file - " + selection_path() + "\nSending Json text Len : " +
                           std::to_string(sent_text().size()) + "\n");
    }
}

TEST_F(Instantaneous, StoreSeesTheCommandsInOrderInThreeRoundTrips) {
    readings("2", {{"P1", "1"}, {"P2", "2"}});
    selection("1", {{"P2", "B"}});
    dcu::test::Monitor monitor(store().port());
    request(4);
    auto seen = monitor.take();
    ASSERT_EQ(seen.size(), 24u);
    seen.erase(seen.begin(), seen.begin() + 20);  // find_ser_num's reads
    EXPECT_EQ(seen, (std::vector<std::vector<std::string>>{
                        {"HMGET", kMeterHash, "NUM_PARAM"},
                        {"HMGET", kMeterHash, "Obis_1", "Value_1"},
                        {"HMGET", kMeterHash, "Obis_2", "Value_2"},
                        {"HMGET", kStatusHash, "VALUE"},
                    }));

    for (const char *count : {"0", "1", "200"}) {
        client().hset(kMeterHash, "NUM_PARAM", count);
        dcu::test::RoundTrips trips(client());
        request(5);
        EXPECT_EQ(trips.count(), 3) << "with NUM_PARAM " << count;
    }
}

TEST_F(Instantaneous, UnknownMeterFailsWithoutReadingAnything) {
    readings("1", {{"P1", "1"}});
    client().hset("Port255Met255inst_info", "NUM_PARAM", "1");
    selection("1", {{"P1", "A"}});
    dcu::test::Monitor monitor(store().port());
    const std::string out = request(-9, "NOPE");
    const std::string text = sent_text();
    EXPECT_EQ(text, "{\n\"TYPE\":\"OD_INST\",\n\"SEQ_NUM\":\"-9\",\n\"CMD_TYPE\":\"OD_MESSAGE\",\n"
                    "\"CMD_STATUS\":\"FAILURE\",\n\"DATA\":\n{\n\"MET_SERNUM\":\"NOPE\",\n\"COMM_STATUS\":\"\",\n"
                    "\"NUM_PARAM\":\"0\",\n\"INST_PARAM\":\n[\n]\n}\n}\n");
    EXPECT_STRICT_JSON(text);
    EXPECT_EQ(out, "Sending Json text Len : " + std::to_string(text.size()) + "\n");
    EXPECT_EQ(monitor.take().size(), 20u);  // the serial numbers only
}

TEST_F(Instantaneous, ParametersThatDoNotFitAreLeftOutWholeAndCounted) {
    readings("2", {{"P1", "1"}, {"P2", std::string(DCU_JSON_TEXT_SIZE, 'x')}});
    selection("3", {{"P1", "A"}, {"P2", "B"}, {"P1", "C"}});
    request(6);
    const std::string text = sent_text();
    // The list stops at the first parameter that does not fit.
    EXPECT_EQ(text, answer_text("6", "FAILURE", data_text("No", {{"A", "1"}})));
    EXPECT_STRICT_JSON(text);
}

}  // namespace
