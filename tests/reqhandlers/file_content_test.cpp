// The four data-file content answers: whole answers, the selection file and
// section of each kind, failures, and names that would leave the data tree.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/reqhandlers/support/host_fixture.hpp"
#include "tests/reqhandlers/support/profile_fixtures.hpp"

namespace {

using namespace dcu::test::profiles;

constexpr const char *kBillSelection = "/srv/www/htdocs/user_bill_obis_det.json";
constexpr const char *kDataRoot = "/usr/tev/data/DlmsData";

using ContentHandler = int (*)(int, const char *, const char *, const char *, const char *);

class FileContent : public dcu::test::HandlerTest {
protected:
    std::pair<std::string, std::string> run(ContentHandler handler, const char *ser_num, const char *dir_name,
                                            const char *file_name, const char *view_type) {
        dcu::test::host().sent.clear();
        std::string out = stdout_of([&] { EXPECT_EQ(handler(9, ser_num, dir_name, file_name, view_type), 0); });
        return {sent_text(), out};
    }
    std::string data_path(std::string_view relative) const {
        return (root() / kDataRoot).string() + "/" + std::string(relative);
    }
};

TEST_F(FileContent, BillFileContentOfTheWorkedExample) {
    const std::string selection = section("BillParams", kTwoOfFour);
    unit_file(kBillSelection, selection);
    unit_file(std::string(kDataRoot) + "/meter_id_3/billing", kBillingFile);
    const auto [text, out] = run(send_bill_file_content, "SN01", "meter_id_3", "billing", "V1");
    EXPECT_EQ(text,
              "{\n"
              "\"TYPE\":\"GET_BILL_FILE_CONTENT\",\n"
              "\"SEQ_NUM\":\"9\",\n"
              "\"CMD_TYPE\":\"OD_MESSAGE\",\n"
              "\"CMD_STATUS\":\"SUCCESS\",\n"
              "\"DATA\":\n"
              "{\n"
              "\"MET_SERNUM\":\"SN01\",\n"
              "\"NUM_PARAM\":\"2\",\n"
              "\"DIR_NAME\":\"meter_id_3\",\n"
              "\"FILE_NAME\":\"billing\",\n"
              "\"VIEW_TYPE\":\"V1\",\n"
              "\"NUM_ENTRIES\":\"2\",\n"
              "\"PARAM_LIST\":\n"
              "[\n"
              "\"Name 1\",\"Name 3\"\n"
              "],\n"
              "\"FILE_DATA\":\n"
              "[\n"
              "{\"V0\":\"a1\",\"V1\":\"a3\"},\n"
              "{\"V0\":\"b1\",\"V1\":\"b3\"}\n"
              "]\n"
              "}\n"
              "}\n");
    EXPECT_STRICT_JSON(text);
    EXPECT_EQ(out, "opening user file json det : " + (root() / kBillSelection).string() +
                       "\ntot bytes read from user json file : " + std::to_string(selection.size()) +
                       "\nOpening Data file : " + data_path("meter_id_3/billing") +
                       "\ntotal number of line in  org file : 2\nName 1,Sending Json text Len : " +
                       std::to_string(text.size()) + "\n");
}

TEST_F(FileContent, EachKindReadsItsSelectionFileAndSection) {
    struct Case {
        const char *name;
        ContentHandler handler;
        const char *type;
        const char *display_name;  // tells which file and section were read
        const char *file_name;
        const char *view_type;
        const char *echoed_view_type;
    };
    const Case cases[] = {
        {"event", send_event_file_content, "GET_EVENT_FILE_CONTENT", "event", "event_3", "V1", "V1"},
        {"bill", send_bill_file_content, "GET_BILL_FILE_CONTENT", "bill", "billing", "V2", "V2"},
        {"dp answers as a bill", send_dp_file_content, "GET_BILL_FILE_CONTENT", "dp", "dp_03_2024", "", ""},
        {"ls", send_ls_file_content, "GET_LS_FILE_CONTENT", "ls", "2024_01_15", "any \"view\"", "any \\\"view\\\""},
    };
    // Each kind's own section in its own file, and decoys: the same sections
    // in the other files.
    unit_file("/srv/www/htdocs/user_event_obis_det.json",
              section("EventParams", {{"c", "event"}}) + ",\n" + section("BillParams", {{"c", "decoy"}}) + ",\n" +
                  section("MNParams", {{"c", "decoy"}}) + ",\n" + section("LSParams", {{"c", "decoy"}}));
    unit_file(kBillSelection,
              section("BillParams", {{"c", "bill"}}) + ",\n" + section("EventParams", {{"c", "decoy"}}));
    unit_file("/srv/www/htdocs/user_dp_obis_det.json", section("MNParams", {{"c", "dp"}}));
    unit_file("/srv/www/htdocs/user_ls_obis_det.json", section("LSParams", {{"c", "ls"}}));
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        unit_file(std::string(kDataRoot) + "/meter_id_3/" + c.file_name, "c\nv\n");
        // No meter has the serial number: the file is read all the same.
        const auto [text, out] = run(c.handler, "NO METER", "meter_id_3", c.file_name, c.view_type);
        EXPECT_EQ(text, answer_head(c.type, 9, "SUCCESS") + "\"MET_SERNUM\":\"NO METER\",\n\"NUM_PARAM\":\"1\",\n" +
                            "\"DIR_NAME\":\"meter_id_3\",\n\"FILE_NAME\":\"" + c.file_name + "\",\n\"VIEW_TYPE\":\"" +
                            c.echoed_view_type + "\",\n\"NUM_ENTRIES\":\"1\",\n" +
                            lists_tail("\"" + std::string(c.display_name) + "\"\n", "FILE_DATA", "{\"V0\":\"v\"}\n"));
        EXPECT_STRICT_JSON(text);
        EXPECT_NE(out.find("Opening Data file : " + data_path(std::string("meter_id_3/") + c.file_name) + "\n"),
                  std::string::npos);
    }
}

TEST_F(FileContent, FailuresStillEchoTheRequest) {
    struct Case {
        const char *name;
        bool selection;
        const char *dir_name;
        const char *file_name;
        std::string data;  // NUM_ENTRIES to the end
    };
    const Case cases[] = {
        {"wrong file name", true, "meter_id_3", "billing_x",
         "\"NUM_ENTRIES\":\"0\",\n" + lists_tail("", "FILE_DATA", "")},
        {"wrong directory name", true, "meter_id_9", "billing",
         "\"NUM_ENTRIES\":\"0\",\n" + lists_tail("", "FILE_DATA", "")},
        {"a directory in place of the file", true, "meter_id_3", "od",
         "\"NUM_ENTRIES\":\"0\",\n" + lists_tail("", "FILE_DATA", "")},
        {"missing selection file", false, "meter_id_3", "billing",
         "\"NUM_ENTRIES\":\"2\",\n" + lists_tail("", "FILE_DATA", "{},\n{}\n")},
    };
    unit_file(std::string(kDataRoot) + "/meter_id_3/billing", kBillingFile);
    std::filesystem::create_directories(root() / kDataRoot / "meter_id_3/od");
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(root() / "/srv");
        if (c.selection) unit_file(kBillSelection, section("BillParams", kTwoOfFour));
        const auto [text, out] = run(send_bill_file_content, "SN01", c.dir_name, c.file_name, "");
        EXPECT_EQ(text, answer_head("GET_BILL_FILE_CONTENT", 9, "FAILURE") +
                            "\"MET_SERNUM\":\"SN01\",\n\"NUM_PARAM\":\"0\",\n\"DIR_NAME\":\"" + c.dir_name +
                            "\",\n\"FILE_NAME\":\"" + c.file_name + "\",\n\"VIEW_TYPE\":\"\",\n" + c.data);
        EXPECT_STRICT_JSON(text);
    }
}

TEST_F(FileContent, NamesThatLeaveTheDataTreeAreRefused) {
    struct Case {
        const char *dir_name;
        const char *file_name;
    };
    const Case cases[] = {
        {"", "billing"},           {"meter_id_3", ""},           {"/usr/tev/data", "secret"},
        {"..", "secret"},          {"meter_id_3/..", "../secret"}, {"meter_id_3", "../../secret"},
        {"meter_id_3", "/secret"}, {"meter_id_3", "x/../../../secret"},
    };
    unit_file(kBillSelection, section("BillParams", {{"c", "C"}}));
    unit_file("/usr/tev/data/secret", "c\nsecret\n");
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.dir_name) + " " + c.file_name);
        const auto [text, out] = run(send_bill_file_content, "SN01", c.dir_name, c.file_name, "V");
        EXPECT_EQ(text, answer_head("GET_BILL_FILE_CONTENT", 9, "FAILURE") +
                            "\"MET_SERNUM\":\"SN01\",\n\"NUM_PARAM\":\"0\",\n\"DIR_NAME\":\"" + c.dir_name +
                            "\",\n\"FILE_NAME\":\"" + c.file_name + "\",\n\"VIEW_TYPE\":\"V\",\n" +
                            "\"NUM_ENTRIES\":\"0\",\n" + lists_tail("", "FILE_DATA", ""));
        EXPECT_STRICT_JSON(text);
        // Nothing is opened: not even the selection file.
        EXPECT_EQ(out, std::string("Refused data file path : ") + c.dir_name + "/" + c.file_name +
                           "\nSending Json text Len : " + std::to_string(text.size()) + "\n");
    }
}

// A link is followed as the unit reads it (an absolute target from the
// unit's root): one that leads out of the data tree is refused like "..",
// before anything is opened; one that stays inside reads its target.
TEST_F(FileContent, LinksAreFollowedOnlyWithinTheDataTree) {
    namespace fs = std::filesystem;
    const fs::path data = root() / kDataRoot;
    unit_file(kBillSelection, section("BillParams", {{"code-1", "Name 1"}}));
    unit_file(std::string(kDataRoot) + "/meter_id_3/billing", kBillingFile);
    unit_file("/etc/passwd", "code-1\nroot:x:0:0\n");
    unit_file("/usr/tev/data/billing", "code-1\nabove the tree\n");
    fs::create_directories(data / "meter_id_1");
    fs::create_symlink("/etc", data / "meter_id_1/etclink");
    fs::create_symlink("../../../../../etc", data / "meter_id_1/etc_relative");
    fs::create_symlink("../../billing", data / "meter_id_1/above");
    fs::create_symlink("/usr/tev/data/DlmsData/meter_id_3", data / "meter_id_1/absolute_in");
    fs::create_symlink("../meter_id_3/billing", data / "meter_id_1/relative_in");
    struct Case {
        const char *name;
        const char *dir_name;
        const char *file_name;
        bool refused;
    };
    const Case cases[] = {
        {"absolute link out", "meter_id_1/etclink", "passwd", true},
        {"relative link out", "meter_id_1/etc_relative", "passwd", true},
        {"file link out", "meter_id_1", "above", true},
        {"absolute link in", "meter_id_1/absolute_in", "billing", false},
        {"relative link in", "meter_id_1", "relative_in", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const auto [text, out] = run(send_bill_file_content, "SN01", c.dir_name, c.file_name, "V");
        const std::string echo = "\"MET_SERNUM\":\"SN01\",\n\"NUM_PARAM\":\"" + std::string(c.refused ? "0" : "1") +
                                 "\",\n\"DIR_NAME\":\"" + c.dir_name + "\",\n\"FILE_NAME\":\"" + c.file_name +
                                 "\",\n\"VIEW_TYPE\":\"V\",\n";
        if (c.refused) {
            EXPECT_EQ(text, answer_head("GET_BILL_FILE_CONTENT", 9, "FAILURE") + echo + "\"NUM_ENTRIES\":\"0\",\n" +
                                lists_tail("", "FILE_DATA", ""));
            EXPECT_EQ(out, std::string("Refused data file path : ") + c.dir_name + "/" + c.file_name +
                               "\nSending Json text Len : " + std::to_string(text.size()) + "\n");
        } else {
            EXPECT_EQ(text, answer_head("GET_BILL_FILE_CONTENT", 9, "SUCCESS") + echo + "\"NUM_ENTRIES\":\"2\",\n" +
                                lists_tail("\"Name 1\"\n", "FILE_DATA", "{\"V0\":\"a1\"},\n{\"V0\":\"b1\"}\n"));
            EXPECT_NE(out.find("Opening Data file : " + data_path(std::string(c.dir_name) + "/" + c.file_name) + "\n"),
                      std::string::npos)
                << out;
        }
        EXPECT_STRICT_JSON(text);
    }
}

TEST_F(FileContent, NamesWithDotsOrSubdirectoriesStayInside) {
    unit_file(kBillSelection, section("BillParams", {{"c", "C"}}));
    unit_file(std::string(kDataRoot) + "/meter_id_3/od/f..1", "c\nv\n");
    const auto [text, out] = run(send_bill_file_content, "SN01", "meter_id_3/./od", "f..1", "V");
    EXPECT_NE(text.find("\"CMD_STATUS\":\"SUCCESS\""), std::string::npos) << text;
    EXPECT_NE(text.find("{\"V0\":\"v\"}"), std::string::npos) << text;
}

}  // namespace
