// What the page is shown: for each view the codes the unit really has (the
// headers of the meters' files of its kind, or the codes of their last
// readings) and the section as the loader reads it; the status of the meters
// and the modem, from the library's answers and the unit's records.
#include <cjson/cJSON.h>
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "tests/web/support/web_unit.hpp"

namespace dcu::test {
namespace {

struct JsonDelete {
    void operator()(cJSON *tree) const noexcept { cJSON_Delete(tree); }
};
using JsonTree = std::unique_ptr<cJSON, JsonDelete>;

std::vector<std::string> split_tabs(const std::string &line) {
    std::vector<std::string> values;
    std::size_t start = 0;
    for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
        values.push_back(line.substr(start, tab - start));
    values.push_back(line.substr(start));
    return values;
}

std::string first_line(const std::filesystem::path &path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// The page's catalogue text for codes that every one of the 7 meters has.
std::string codes_text(const std::vector<std::string> &codes) {
    std::string text = "\"codes\":[";
    for (std::size_t i = 0; i < codes.size(); ++i)
        text += (i ? "," : "") + std::string("{\"obis\":\"") + codes[i] + "\",\"meters\":7}";
    return text + "]";
}

struct KindFile {
    const char *view;
    const char *file;  // a data file whose header holds the kind's codes; null: the readings in the store
};

const KindFile kKindFiles[] = {
    {"od-billing", "meter_id_3/billing"},         {"bill-content", "meter_id_0/billing"},
    {"od-midnight", "meter_id_6/dp_02_2024"},     {"dp-content", "meter_id_1/dp_03_2024"},
    {"events", "meter_id_2/event_3"},             {"ls-content", "meter_id_4/od/odls_20240328_0400"},
    {"inst", nullptr},
};

class ViewCodes : public WebUnit, public ::testing::WithParamInterface<KindFile> {};

TEST_P(ViewCodes, AreTheCodesTheUnitsMetersHave) {
    std::vector<std::string> expected;
    if (GetParam().file != nullptr) {
        expected = split_tabs(first_line(unit("/usr/tev/data/DlmsData/") / GetParam().file));
    } else {
        StoreClient client(store().port());
        const auto readings = client.hgetall("Port1Met1inst_info");
        const int count = std::stoi(readings.at("NUM_PARAM"));
        for (int k = 1; k <= count; ++k) expected.push_back(readings.at("Obis_" + std::to_string(k)));
    }
    ASSERT_FALSE(expected.empty());
    const CgiReply reply = get(std::string("view=") + GetParam().view);
    ASSERT_EQ(reply.status, 200);
    EXPECT_NE(reply.body.find("\"file_state\":\"ok\",\"store\":true,\"meters\":7," + codes_text(expected) + ","),
              std::string::npos)
        << reply.body;
}

INSTANTIATE_TEST_SUITE_P(EachKind, ViewCodes, ::testing::ValuesIn(kKindFiles), [](const auto &case_info) {
    std::string name = case_info.param.view;
    for (char &c : name)
        if (c == '-') c = '_';
    return name;
});

// The section as the handlers read it: in its order, codes no meter has
// marked, entries the list lacks empty.
TEST_F(WebUnit, SelectionIsShownAsTheLoaderReadsIt) {
    write_file(unit(kEventSelection),
               "\"BillParams\":{\"NumParams\":\"3\",\"ObisCodeList\":[{\"obis\":\"1.0.9.8.0.255\",\"assign\":\"kVAh\"},"
               "{\"obis\":\"9.9.99.9.9.255\",\"assign\":\"Gone\"}]}\n");
    const CgiReply reply = get("view=od-billing");
    ASSERT_EQ(reply.status, 200);
    const std::string head =
        R"j({"id":"od-billing","title":"On-demand billing","file":"user_event_obis_det.json","section":"BillParams",)j"
        R"("kind":"billing","file_state":"ok","store":true,"meters":7,)";
    EXPECT_EQ(reply.body.substr(0, head.size()), head);
    const std::string selected =
        R"("selected":[{"obis":"1.0.9.8.0.255","assign":"kVAh","known":true},)"
        R"({"obis":"9.9.99.9.9.255","assign":"Gone","known":false},{"obis":"","assign":"","known":false}]})";
    ASSERT_GE(reply.body.size(), selected.size());
    EXPECT_EQ(reply.body.substr(reply.body.size() - selected.size()), selected);
}

struct StateCase {
    const char *name;
    std::optional<std::string> file;  // the event file; nothing: none
    const char *state;
};

const StateCase kStates[] = {
    {"Missing", std::nullopt, "missing"},
    {"NoSection", std::string("\"MNParams\":{\"NumParams\":\"0\",\"ObisCodeList\":[]}\n"), "no section"},
    {"NumParamsRefused", std::string("\"BillParams\":{\"NumParams\":\"256\",\"ObisCodeList\":[]}\n"),
     "NumParams refused"},
    {"OwnBraces", std::string("{\"BillParams\":{\"NumParams\":\"0\",\"ObisCodeList\":[]}}\n"), "unparsable"},
};

class FileState : public WebUnit, public ::testing::WithParamInterface<StateCase> {};

TEST_P(FileState, IsToldWithNothingSelected) {
    if (GetParam().file) write_file(unit(kEventSelection), *GetParam().file);
    else std::filesystem::remove(unit(kEventSelection));
    const CgiReply reply = get("view=od-billing");
    ASSERT_EQ(reply.status, 200);
    EXPECT_NE(reply.body.find(std::string("\"file_state\":\"") + GetParam().state + "\""), std::string::npos)
        << reply.body;
    EXPECT_TRUE(reply.body.ends_with("],\"selected\":[]}")) << reply.body;
}

INSTANTIATE_TEST_SUITE_P(EventFile, FileState, ::testing::ValuesIn(kStates),
                         [](const auto &case_info) { return std::string(case_info.param.name); });

// ---- status -------------------------------------------------------------

std::string quoted_or_null(const std::optional<std::string> &text) {
    return text ? "\"" + *text + "\"" : "null";
}

// The status body the unit's records make: the meters of the meter list in
// position order with their place (counted from 1), the status word of
// those the configuration counts, and the newest of their records.
TEST_F(WebUnit, StatusShowsEachMeterItsPlaceItsLinkAndItsNewestRecord) {
    // One meter has a record from later than the others.
    const auto billing = unit("/usr/tev/data/DlmsData/meter_id_2/billing");
    const std::string kept = read_file(billing);
    const std::vector<std::string> header = split_tabs(first_line(billing));
    std::string record = "2031-05-01 00:00:00";
    for (std::size_t c = 1; c < header.size(); ++c) record += "\t1";
    write_file(billing, kept + record + "\n");

    const CgiReply reply = get("status");
    write_file(billing, kept);
    ASSERT_EQ(reply.status, 200);

    StoreClient client(store().port());
    const char *words[] = {"No", "Yes", "Not Configured", ""};
    std::string meters;
    int listed = 0;
    for (int position = 0; position < 20; ++position) {
        const int port = position / 5, meter = position % 5;
        const auto serial = client.hget("Port" + std::to_string(port) + "Met" + std::to_string(meter) + "SerNum", "SER_NUM");
        if (!serial) continue;
        const int configured = std::stoi(client.hget("P_" + std::to_string(port) + "SER_MET_INFO", "NumMeters").value());
        std::optional<std::string> word;
        if (meter < configured)
            word = words[std::stoi(client.hget("SerPort" + std::to_string(port) + "Met" + std::to_string(meter) + "Status",
                                               "VALUE")
                                       .value())];
        const bool later = position == 2;
        meters += std::string(listed++ ? "," : "") + "{\"serial\":\"" + *serial + "\",\"port\":" +
                  std::to_string(port + 1) + ",\"slot\":" + std::to_string(meter + 1) + ",\"directory\":\"meter_id_" +
                  std::to_string(position) + "\",\"comm_status\":" + quoted_or_null(word) + ",\"newest_record\":\"" +
                  (later ? "2031-05-01 00:00:00" : "2024-03-28 09:45:00") + "\",\"newest_file\":\"" +
                  (later ? "billing" : "od/odls_20240328_0400") + "\"}";
    }
    const auto modem = client.hgetall("MODEM_DIAG_INFO");
    std::string fields;
    for (const char *name : {"Status", "SignalStrength", "NwType", "RegStatus", "Operator", "IMEI"})
        fields += std::string(fields.empty() ? "" : ",") + "{\"name\":\"" + name + "\",\"value\":\"" + modem.at(name) +
                  "\"}";
    EXPECT_EQ(reply.body, R"({"store":true,"meter_list":"SUCCESS","comm_status":"SUCCESS","meters":[)" + meters +
                              R"(],"modem":{"answer":"SUCCESS","fields":[)" + fields + "]}}");
    EXPECT_EQ(listed, 7);
}

// The meters of the status view are those of the head-end's meter list.
TEST_F(WebUnit, StatusMetersAreTheMeterList) {
    const RunResult list = dcuhost({"meters", "3"});
    ASSERT_EQ(list.exit_code, 0);
    const JsonTree answer(cJSON_Parse(list.out.c_str()));
    const JsonTree status(cJSON_Parse(get("status").body.c_str()));
    std::vector<std::string> listed, shown;
    const cJSON *item = nullptr;
    cJSON_ArrayForEach(item, cJSON_GetObjectItemCaseSensitive(cJSON_GetObjectItemCaseSensitive(answer.get(), "DATA"),
                                                              "MET_LIST")) {
        listed.emplace_back(item->valuestring);
    }
    cJSON_ArrayForEach(item, cJSON_GetObjectItemCaseSensitive(status.get(), "meters")) {
        shown.emplace_back(cJSON_GetObjectItemCaseSensitive(item, "serial")->valuestring);
    }
    EXPECT_EQ(shown, listed);
    EXPECT_EQ(shown, serials());
}

// Without a store the page says so, and still shows the file as it stands.
TEST_F(WebUnit, NoStoreIsSaidAndTheFileStillShown) {
    CgiCall call;
    call.env["DCU_REDIS_PORT"] = std::to_string(free_loopback_port());
    call.query = "status";
    EXPECT_EQ(cgi(call).body,
              R"({"store":false,"meter_list":"FAILURE","comm_status":"FAILURE","meters":[],"modem":{"answer":"FAILURE","fields":[]}})");
    call.query = "view=od-billing";
    const std::string body = cgi(call).body;
    EXPECT_NE(body.find(R"("file_state":"ok","store":false,"meters":0,"codes":[],"selected":[{"obis":"1.0.8.8.0.255",)"),
              std::string::npos)
        << body;
}

// The session: who is signed in, the token, and every view with its file and section.
TEST_F(WebUnit, SessionNamesTheUserAndEveryView) {
    CgiCall call;
    call.query = "session";
    call.user = "service";
    const CgiReply reply = cgi(call);
    ASSERT_EQ(reply.status, 200);
    const std::string token = token_of_reply(reply.body);
    EXPECT_EQ(reply.body,
              R"({"user":"service","token":")" + token + R"(","views":[)"
              R"j({"id":"od-billing","title":"On-demand billing","file":"user_event_obis_det.json","section":"BillParams","kind":"billing"},)j"
              R"j({"id":"od-midnight","title":"On-demand midnight values","file":"user_event_obis_det.json","section":"MNParams","kind":"midnight"},)j"
              R"j({"id":"events","title":"Events (on-demand and event files)","file":"user_event_obis_det.json","section":"EventParams","kind":"event"},)j"
              R"j({"id":"bill-content","title":"Billing file contents","file":"user_bill_obis_det.json","section":"BillParams","kind":"billing"},)j"
              R"j({"id":"dp-content","title":"Midnight file contents","file":"user_dp_obis_det.json","section":"MNParams","kind":"midnight"},)j"
              R"j({"id":"ls-content","title":"Load-survey file contents","file":"user_ls_obis_det.json","section":"LSParams","kind":"load survey"},)j"
              R"j({"id":"inst","title":"Instantaneous values","file":"user_inst_obis_det.json","section":"InstParams","kind":"instantaneous"}]})j");
    EXPECT_EQ(token.find('.'), token.size() - 65) << token;
}

}  // namespace
}  // namespace dcu::test
