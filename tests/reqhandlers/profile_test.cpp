// OD_BILLING, OD_MID_NIGHT and OD_EVENT: whole answers, progress lines,
// data-file shapes, failures and answers too large for json_text.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/reqhandlers/support/host_fixture.hpp"
#include "tests/reqhandlers/support/profile_fixtures.hpp"

namespace {

using namespace dcu::test::profiles;

constexpr const char *kEventSelection = "/srv/www/htdocs/user_event_obis_det.json";

class Profiles : public dcu::test::HandlerTest {
protected:
    // SN01 on port 0, meter 3: meter_id_3.
    void SetUp() override {
        HandlerTest::SetUp();
        serial(0, 3, "SN01");
    }
    void selection(const std::vector<Selected> &entries, std::string_view name = "BillParams") {
        unit_file(kEventSelection, section(name, entries));
    }
    void billing(std::string_view content) { unit_file("/usr/tev/data/DlmsData/meter_id_3/billing", content); }
    // The answer to a billing request; its progress lines are left aside.
    std::string billing_answer(int seq_num = 7) {
        dcu::test::host().sent.clear();
        stdout_of([&] { EXPECT_EQ(send_od_billing_det(seq_num, "SN01"), 0); });
        return sent_text();
    }
};

TEST_F(Profiles, BillingAnswerOfTheWorkedExample) {
    selection(kTwoOfFour);
    billing(kBillingFile);
    const std::string out = stdout_of([] { send_od_billing_det(7, "SN01"); });
    const std::string text = sent_text();
    EXPECT_EQ(text,
              "{\n"
              "\"TYPE\":\"OD_BILLING\",\n"
              "\"SEQ_NUM\":\"7\",\n"
              "\"CMD_TYPE\":\"OD_MESSAGE\",\n"
              "\"CMD_STATUS\":\"SUCCESS\",\n"
              "\"DATA\":\n"
              "{\n"
              "\"MET_SERNUM\":\"SN01\",\n"
              "\"NUM_PARAM\":\"2\",\n"
              "\"NUM_ENTRIES\":\"2\",\n"
              "\"PARAM_LIST\":\n"
              "[\n"
              "\"Name 1\",\"Name 3\"\n"
              "],\n"
              "\"BILL_DATA\":\n"
              "[\n"
              "{\"V0\":\"a1\",\"V1\":\"a3\"},\n"
              "{\"V0\":\"b1\",\"V1\":\"b3\"}\n"
              "]\n"
              "}\n"
              "}\n");
    EXPECT_STRICT_JSON(text);
    const std::string selection_size = std::to_string(section("BillParams", kTwoOfFour).size());
    // Every display name but the last is echoed with a comma, without a line break.
    EXPECT_EQ(out, "tot bytes read from user json file : " + selection_size + "\np_gen_ptr : 2\nName 1,"
                   "Sending Json text Len : " + std::to_string(text.size()) + "\n");
}

TEST_F(Profiles, EachHandlerReadsItsFileAndSection) {
    struct Case {
        const char *name;
        const char *file;  // in meter_id_4
        std::function<int()> call;
        const char *type;
        const char *data_key;
        const char *display_name;  // tells which section was read
    };
    const Case cases[] = {
        {"billing", "billing", [] { return send_od_billing_det(2, "M4"); }, "OD_BILLING", "BILL_DATA", "bill"},
        {"midnight of March 2024", "dp_03_2024", [] { return send_od_midnight_det(2, "M4", 3, 2024); },
         "OD_MID_NIGHT", "MN_DATA", "midnight"},
        {"event type 3", "event_3", [] { return send_od_event_det(2, "M4", 3); }, "OD_EVENT", "EVENT_DATA", "event"},
        {"event type 255", "event_255", [] { return send_od_event_det(2, "M4", 255); }, "OD_EVENT", "EVENT_DATA",
         "event"},
    };
    serial(0, 4, "M4");
    // All three sections side by side in the event selection file, each
    // naming the same column differently.
    unit_file(kEventSelection, section("BillParams", {{"c", "bill"}}) + ",\n" +
                                   section("MNParams", {{"c", "midnight"}}) + ",\n" +
                                   section("EventParams", {{"c", "event"}}));
    // A bill selection file elsewhere is not the one these answers read.
    unit_file("/srv/www/htdocs/user_bill_obis_det.json", section("BillParams", {{"c", "wrong file"}}));
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(root() / "/usr/tev/data/DlmsData");
        unit_file(std::string("/usr/tev/data/DlmsData/meter_id_4/") + c.file, "c\nv\n");
        dcu::test::host().sent.clear();
        stdout_of([&] { EXPECT_EQ(c.call(), 0); });
        const std::string text = sent_text();
        EXPECT_EQ(text, answer_head(c.type, 2, "SUCCESS") +
                            "\"MET_SERNUM\":\"M4\",\n\"NUM_PARAM\":\"1\",\n\"NUM_ENTRIES\":\"1\",\n" +
                            lists_tail("\"" + std::string(c.display_name) + "\"\n", c.data_key, "{\"V0\":\"v\"}\n"));
        EXPECT_STRICT_JSON(text);
    }
}

TEST_F(Profiles, DataFileShapes) {
    struct Case {
        const char *name;
        std::string file;
        std::vector<Selected> selection;
        int num_param;
        int num_entries;
        std::string names;    // the PARAM_LIST line
        std::string records;  // the BILL_DATA lines
    };
    const std::string long_value(600, 'L');
    const Case cases[] = {
        {"duplicate obis: one column, the first name", "a\tb\n1\t2\n", {{"b", "First"}, {"b", "Second"}}, 1, 1,
         "\"First\"\n", "{\"V0\":\"2\"}\n"},
        {"repeated header name: listed twice", "a\tx\ta\n1\t2\t3\n", {{"a", "A"}}, 2, 1, "\"A\",\"A\"\n",
         "{\"V0\":\"1\",\"V1\":\"3\"}\n"},
        {"header only", "a\tb\n", {{"a", "A"}}, 1, 0, "\"A\"\n", ""},
        {"empty file", "", {{"a", "A"}}, 0, 0, "", ""},
        {"nothing selected: empty records", "a\n1\n2\n", {{"z", "Z"}}, 0, 2, "", "{},\n{}\n"},
        {"fewer values: empty texts", "a\tb\tc\n1\n", {{"a", "A"}, {"c", "C"}}, 2, 1, "\"A\",\"C\"\n",
         "{\"V0\":\"1\",\"V1\":\"\"}\n"},
        {"more values: ignored", "a\tb\n1\t2\t3\t4\n", {{"b", "B"}}, 1, 1, "\"B\"\n", "{\"V0\":\"2\"}\n"},
        {"last column selectable", "a\tlast\n1\t2\n", {{"last", "Last"}}, 1, 1, "\"Last\"\n", "{\"V0\":\"2\"}\n"},
        {"CR-LF line ends", "a\tlast\r\n1\t2\r\n3\t4\r\n", {{"last", "Last"}}, 1, 2, "\"Last\"\n",
         "{\"V0\":\"2\"},\n{\"V0\":\"4\"}\n"},
        {"no line end after the last record", "a\n1\n2", {{"a", "A"}}, 1, 2, "\"A\"\n",
         "{\"V0\":\"1\"},\n{\"V0\":\"2\"}\n"},
        {"empty line inside: a record of empty values", "a\tb\n1\t2\n\n3\t4\n", {{"b", "B"}}, 1, 3, "\"B\"\n",
         "{\"V0\":\"2\"},\n{\"V0\":\"\"},\n{\"V0\":\"4\"}\n"},
        {"a 600-character line is one record", "a\tb\n" + long_value + "\t2\n", {{"a", "A"}, {"b", "B"}}, 2, 1,
         "\"A\",\"B\"\n", "{\"V0\":\"" + long_value + "\",\"V1\":\"2\"}\n"},
        {"a 600-character header name", long_value + "\tb\n1\t2\n", {{long_value, "Long"}}, 1, 1, "\"Long\"\n",
         "{\"V0\":\"1\"}\n"},
        {"quotes and backslashes escaped", "a\tb\nsay \"hi\"\tc:\\d\n", {{"a", "Q \\\"A\\\""}, {"b", "B"}}, 2, 1,
         "\"Q \\\"A\\\"\",\"B\"\n", "{\"V0\":\"say \\\"hi\\\"\",\"V1\":\"c:\\\\d\"}\n"},
        {"control character in a value", "a\nx\x01z\n", {{"a", "A"}}, 1, 1, "\"A\"\n", "{\"V0\":\"x\\u0001z\"}\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        selection(c.selection);
        billing(c.file);
        const std::string text = billing_answer();
        EXPECT_EQ(text, answer_head("OD_BILLING", 7, "SUCCESS") + "\"MET_SERNUM\":\"SN01\",\n\"NUM_PARAM\":\"" +
                            std::to_string(c.num_param) + "\",\n\"NUM_ENTRIES\":\"" + std::to_string(c.num_entries) +
                            "\",\n" + lists_tail(c.names, "BILL_DATA", c.records));
        EXPECT_STRICT_JSON(text);
    }
}

TEST_F(Profiles, ThreeHundredSelectedColumnsAreServedWhole) {
    // 300 columns of the same name, selected by one entry.
    std::string header, record;
    for (int i = 0; i < 300; ++i) {
        header += std::string(i ? "\t" : "") + "c";
        record += std::string(i ? "\t" : "") + std::to_string(i);
    }
    selection({{"c", "C"}});
    billing(header + "\n" + record + "\n");
    const std::string text = billing_answer();
    EXPECT_NE(text.find("\"NUM_PARAM\":\"300\""), std::string::npos);
    EXPECT_NE(text.find("\"V298\":\"298\",\"V299\":\"299\"}"), std::string::npos);
    EXPECT_NE(text.find("\"CMD_STATUS\":\"SUCCESS\""), std::string::npos);
    EXPECT_STRICT_JSON(text);
}

TEST_F(Profiles, FailuresStillAnswerOnce) {
    struct Case {
        const char *name;
        const char *selection;  // null: no selection file
        bool data_file;
        const char *ser_num;
        std::string data;  // from NUM_PARAM on
        std::string out;   // standard output before the length line
    };
    const std::string good = section("BillParams", {{"code-1", "Name 1"}});
    const std::string refused =
        "\"BillParams\":{\"NumParams\":\"256\",\"ObisCodeList\":[{\"obis\":\"code-1\",\"assign\":\"Name 1\"}]}";
    const std::string selection_path = (root() / kEventSelection).string();
    const std::string read_line = "tot bytes read from user json file : ";
    const Case cases[] = {
        {"missing data file", good.c_str(), false, "SN01",
         "\"NUM_PARAM\":\"0\",\n\"NUM_ENTRIES\":\"0\",\n" + lists_tail("", "BILL_DATA", ""),
         read_line + std::to_string(good.size()) + "\np_gen_ptr : 1\n"},
        {"missing selection file", nullptr, true, "SN01",
         "\"NUM_PARAM\":\"0\",\n\"NUM_ENTRIES\":\"2\",\n" + lists_tail("", "BILL_DATA", "{},\n{}\n"),
         "can't Find original file - " + selection_path + "\n"},
        {"count beyond 255 refused", refused.c_str(), true, "SN01",
         "\"NUM_PARAM\":\"0\",\n\"NUM_ENTRIES\":\"2\",\n" + lists_tail("", "BILL_DATA", "{},\n{}\n"),
         read_line + std::to_string(refused.size()) +
             "\np_gen_ptr : 256\nBillParams(): NumParams 256 out of range 0 to 255\n"},
        // No meter has the serial number: nothing is read, not even the selection.
        {"unknown serial number", good.c_str(), true, "NOPE",
         "\"NUM_PARAM\":\"0\",\n\"NUM_ENTRIES\":\"0\",\n" + lists_tail("", "BILL_DATA", ""), ""},
        // The empty text is contained in every serial number and names none.
        {"empty serial number", good.c_str(), true, "",
         "\"NUM_PARAM\":\"0\",\n\"NUM_ENTRIES\":\"0\",\n" + lists_tail("", "BILL_DATA", ""), ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(root() / "/usr/tev/data");
        std::filesystem::remove_all(root() / "/srv");
        if (c.selection) unit_file(kEventSelection, c.selection);
        if (c.data_file) billing(kBillingFile);
        dcu::test::host().sent.clear();
        const std::string out = stdout_of([&] { EXPECT_EQ(send_od_billing_det(7, c.ser_num), 0); });
        const std::string text = sent_text();
        EXPECT_EQ(text, answer_head("OD_BILLING", 7, "FAILURE") + "\"MET_SERNUM\":\"" + c.ser_num + "\",\n" + c.data);
        EXPECT_STRICT_JSON(text);
        EXPECT_EQ(out, c.out + "Sending Json text Len : " + std::to_string(text.size()) + "\n");
    }
}

TEST_F(Profiles, UnknownMeterIsNeverAddressedAsMeter1530) {
    selection({{"code-1", "Name 1"}});
    // Were port 255 / meter 255 addressed, this file would be read.
    unit_file("/usr/tev/data/DlmsData/meter_id_1530/billing", kBillingFile);
    stdout_of([] { send_od_billing_det(1, "NOPE"); });
    EXPECT_NE(sent_text().find("\"CMD_STATUS\":\"FAILURE\""), std::string::npos);
    EXPECT_EQ(sent_text().find("a1"), std::string::npos);
}

TEST_F(Profiles, TooLargeForJsonTextListsWholeRecordsAndFails) {
    // 5000 records of about 60 bytes each in the answer: more than json_text holds.
    std::string file = "code-1\tcode-2\n";
    for (int i = 0; i < 5000; ++i) file += "value-" + std::to_string(i) + std::string(40, 'v') + "\tz\n";
    selection({{"code-1", "Name 1"}, {"code-2", "Name 2"}});
    billing(file);
    const std::string text = billing_answer();
    EXPECT_LT(text.size(), sizeof json_text);
    EXPECT_STRICT_JSON(text);
    EXPECT_NE(text.find("\"CMD_STATUS\":\"FAILURE\""), std::string::npos);
    std::size_t listed = 0;
    for (auto at = text.find("{\"V0\""); at != std::string::npos; at = text.find("{\"V0\"", at + 1)) ++listed;
    EXPECT_GT(listed, 1000u);
    EXPECT_LT(listed, 5000u);
    EXPECT_NE(text.find("\"NUM_ENTRIES\":\"" + std::to_string(listed) + "\""), std::string::npos);
    // The last record listed is whole and ends the list.
    const std::string last =
        "{\"V0\":\"value-" + std::to_string(listed - 1) + std::string(40, 'v') + "\",\"V1\":\"z\"}\n]\n}\n}\n";
    EXPECT_EQ(text.substr(text.size() - last.size()), last);
}

TEST_F(Profiles, NamesTooLargeForJsonTextKeepCountsAndRecordsInStep) {
    // 2000 columns of one name, each listed with a 200-character display
    // name: the names alone overflow json_text.
    std::string header, record;
    for (int i = 0; i < 2000; ++i) {
        header += std::string(i ? "\t" : "") + "c";
        record += std::string(i ? "\t" : "") + "v";
    }
    selection({{"c", std::string(200, 'N')}});
    billing(header + "\n" + record + "\n");
    const std::string text = billing_answer();
    EXPECT_STRICT_JSON(text);
    EXPECT_NE(text.find("\"CMD_STATUS\":\"FAILURE\""), std::string::npos);
    const auto names_begin = text.find("\"PARAM_LIST\":\n[\n");
    const auto names_end = text.find("\n]", names_begin);
    ASSERT_NE(names_end, std::string::npos);
    std::size_t named = 0;
    const std::string name(200, 'N');
    for (auto at = text.find(name, names_begin); at < names_end; at = text.find(name, at + name.size())) ++named;
    EXPECT_GT(named, 0u);
    EXPECT_LT(named, 2000u);
    EXPECT_NE(text.find("\"NUM_PARAM\":\"" + std::to_string(named) + "\""), std::string::npos);
    // No room is left for a record of that many values.
    EXPECT_NE(text.find("\"NUM_ENTRIES\":\"0\""), std::string::npos);
}

}  // namespace
