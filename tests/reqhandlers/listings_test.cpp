// Listings of the data tree: the per-kind file lists, the on-demand
// load-survey list from the store and the directory list.
#include <gtest/gtest.h>

#include <filesystem>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "tests/reqhandlers/support/host_fixture.hpp"
#include "tests/reqhandlers/support/profile_fixtures.hpp"

namespace {

using dcu::test::profiles::answer_head;
namespace fs = std::filesystem;

constexpr const char *kDataRoot = "/usr/tev/data/DlmsData";
constexpr const char *kMeterDir = "/usr/tev/data/DlmsData/meter_id_3";

using ListHandler = int (*)(int, const char *);

std::string quoted_names(const std::vector<std::string> &names) {
    std::string text;
    for (const auto &name : names) text += (text.empty() ? "\"" : ",\"") + name + "\"";
    return text;
}

// A per-kind list answer.
std::string file_list(std::string_view type, int seq_num, std::string_view status, std::string_view dir_name,
                      const std::vector<std::string> &names) {
    return answer_head(type, seq_num, status) + "\"DIR_NAME\":\"" + std::string(dir_name) + "\",\n\"NUM_FILES\":\"" +
           std::to_string(names.size()) + "\",\n\"FILE_LIST\":\n[\n" + quoted_names(names) + "]\n}\n}\n";
}

// The on-demand list answer: the names on the line of the opening bracket.
std::string od_list(std::string_view status, std::string_view dir_name, const std::vector<std::string> &names) {
    return answer_head("GET_OD_LS_FILE_LIST", 4, status) + "\"DIR_NAME\":\"" + std::string(dir_name) +
           "\",\n\"NUM_FILES\":\"" + std::to_string(names.size()) + "\",\n\"FILE_LIST\":\n[" + quoted_names(names) +
           "]\n}\n}\n";
}

class Listings : public dcu::test::HandlerTest {
protected:
    // SN01 on port 0, meter 3: meter_id_3.
    void SetUp() override {
        HandlerTest::SetUp();
        serial(0, 3, "SN01");
    }
    void make_files(const char *unit_dir, const std::vector<std::string> &names) const {
        fs::create_directories(root() / unit_dir);
        for (const auto &name : names) dcu::test::write_file(root() / unit_dir / name, "");
    }
    // The names of a directory in its own order (the order the listings
    // follow), those that keep passes.
    std::vector<std::string> in_directory_order(const char *unit_dir,
                                                const std::function<bool(const std::string &)> &keep) const {
        std::vector<std::string> names;
        for (const auto &entry : fs::directory_iterator(root() / unit_dir)) {
            const std::string name = entry.path().filename().string();
            if (keep(name)) names.push_back(name);
        }
        return names;
    }
    std::pair<std::string, std::string> run(const std::function<int()> &call, int expected_result = 0) {
        dcu::test::host().sent.clear();
        std::string out = stdout_of([&] { EXPECT_EQ(call(), expected_result); });
        return {dcu::test::host().sent.empty() ? std::string() : sent_text(), out};
    }
};

bool holds(const std::string &name, std::string_view part) { return name.find(part) != std::string::npos; }

TEST_F(Listings, BillListOfTheWorkedExample) {
    make_files(kMeterDir, {"billing", "billing_old"});
    const auto order = in_directory_order(kMeterDir, [](const std::string &) { return true; });
    const auto [text, out] = run([] { return send_bill_file_list_det(4, "SN01"); });
    EXPECT_EQ(text,
              "{\n"
              "\"TYPE\":\"GET_BILL_FILE_LIST\",\n"
              "\"SEQ_NUM\":\"4\",\n"
              "\"CMD_TYPE\":\"OD_MESSAGE\",\n"
              "\"CMD_STATUS\":\"SUCCESS\",\n"
              "\"DATA\":\n"
              "{\n"
              "\"DIR_NAME\":\"meter_id_3\",\n"
              "\"NUM_FILES\":\"2\",\n"
              "\"FILE_LIST\":\n"
              "[\n"
              "\"" + order[0] + "\",\"" + order[1] + "\"]\n"
              "}\n"
              "}\n");
    EXPECT_STRICT_JSON(text);
    EXPECT_EQ(out, "Sending Json text Len : " + std::to_string(text.size()) + "\n");
}

TEST_F(Listings, EachKindFromAMixedDirectory) {
    make_files(kMeterDir, {"billing", "dp_01_2024", "event_1", "event_2", "2024_01_15", "prevent_x", "ls_dp_1"});
    fs::create_directories(root() / kMeterDir / "od");
    struct Case {
        const char *name;
        ListHandler handler;
        const char *type;
        std::function<bool(const std::string &)> keep;
        const char *out;  // before the length line
    };
    const Case cases[] = {
        {"bill", send_bill_file_list_det, "GET_BILL_FILE_LIST", [](const std::string &n) { return holds(n, "bill"); },
         ""},
        // A load-survey file whose name holds dp counts as a daily profile.
        {"dp", send_dp_file_list_det, "GET_DP_FILE_LIST", [](const std::string &n) { return holds(n, "dp"); }, ""},
        // A plain substring test: prevent_x is an event file.
        {"event", send_event_file_list_det, "GET_EVENT_FILE_LIST",
         [](const std::string &n) { return holds(n, "event"); }, ""},
        // Everything else, the od subdirectory included.
        {"ls", send_ls_file_list_det, "GET_LS_FILE_LIST",
         [](const std::string &n) { return !holds(n, "bill") && !holds(n, "dp") && !holds(n, "event"); },
         "This time need to send ls files only\n"},
    };
    const std::vector<std::vector<std::string>> expected_sets = {
        {"billing"}, {"dp_01_2024", "ls_dp_1"}, {"event_1", "event_2", "prevent_x"}, {"2024_01_15", "od"}};
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto &c = cases[i];
        SCOPED_TRACE(c.name);
        const auto names = in_directory_order(kMeterDir, c.keep);
        EXPECT_EQ(std::set<std::string>(names.begin(), names.end()),
                  std::set<std::string>(expected_sets[i].begin(), expected_sets[i].end()));
        const auto [text, out] = run([&] { return c.handler(4, "SN01"); });
        EXPECT_EQ(text, file_list(c.type, 4, "SUCCESS", "meter_id_3", names));
        EXPECT_STRICT_JSON(text);
        EXPECT_EQ(out, std::string(c.out) + "Sending Json text Len : " + std::to_string(text.size()) + "\n");
    }
}

TEST_F(Listings, EmptyMissingAndUnknown) {
    struct Case {
        const char *name;
        const char *ser_num;
        bool directory;
        const char *status;
        const char *dir_name;
        const char *out;  // before the length line, the ls line aside
    };
    const Case cases[] = {
        {"empty directory", "SN01", true, "SUCCESS", "meter_id_3", ""},
        {"missing directory", "SN01", false, "FAILURE", "meter_id_3",
         "Failed to opendir No such file or directory\n"},
        {"unknown serial number", "NOPE", true, "FAILURE", "", ""},
    };
    const std::pair<ListHandler, const char *> handlers[] = {
        {send_bill_file_list_det, "GET_BILL_FILE_LIST"},
        {send_dp_file_list_det, "GET_DP_FILE_LIST"},
        {send_event_file_list_det, "GET_EVENT_FILE_LIST"},
        {send_ls_file_list_det, "GET_LS_FILE_LIST"},
    };
    for (const auto &c : cases) {
        fs::remove_all(root() / kDataRoot);
        if (c.directory) fs::create_directories(root() / kMeterDir);
        for (const auto &kind : handlers) {
            const ListHandler handler = kind.first;
            const char *type = kind.second;
            SCOPED_TRACE(std::string(c.name) + " " + type);
            const auto [text, out] = run([&] { return handler(4, c.ser_num); });
            EXPECT_EQ(text, file_list(type, 4, c.status, c.dir_name, {}));
            EXPECT_STRICT_JSON(text);
            const std::string ls_line =
                handler == send_ls_file_list_det ? "This time need to send ls files only\n" : "";
            EXPECT_EQ(out, ls_line + c.out + "Sending Json text Len : " + std::to_string(text.size()) + "\n");
        }
    }
}

TEST_F(Listings, ManyEntriesAreServedWholeOrCutWithFailure) {
    struct Case {
        const char *name;
        int files;
        std::size_t name_length;
        bool all_fit;
    };
    const Case cases[] = {
        {"300 entries fit", 300, 12, true},
        {"900 long names do not", 900, 240, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(root() / kDataRoot);
        std::vector<std::string> names;
        for (int i = 0; i < c.files; ++i) {
            std::string name = "event_" + std::to_string(i);
            names.push_back(name + std::string(c.name_length - name.size(), 'x'));
        }
        make_files(kMeterDir, names);
        const auto order = in_directory_order(kMeterDir, [](const std::string &) { return true; });
        const auto [text, out] = run([] { return send_event_file_list_det(4, "SN01"); });
        EXPECT_STRICT_JSON(text);
        // The names listed are the first ones in directory order, and they are counted.
        std::size_t listed = 0;
        while (listed < order.size() && text.find("\"" + order[listed] + "\"") != std::string::npos) ++listed;
        EXPECT_EQ(listed == order.size(), c.all_fit);
        EXPECT_EQ(text, file_list("GET_EVENT_FILE_LIST", 4, c.all_fit ? "SUCCESS" : "FAILURE", "meter_id_3",
                                  std::vector<std::string>(order.begin(), order.begin() + static_cast<long>(listed))));
    }
}

TEST_F(Listings, OnDemandListFromTheStore) {
    struct Case {
        const char *name;
        std::vector<std::pair<std::string, std::string>> fields;  // in the order they are written
        const char *status;
    };
    const Case cases[] = {
        {"two files", {{"a", "f1"}, {"b", "f2"}}, "SUCCESS"},
        {"three files, field names free", {{"z", "ls_3"}, {"1", "ls_1"}, {"x y", "ls 2"}}, "SUCCESS"},
        {"more than six", {{"1", "o1"}, {"2", "o2"}, {"3", "o3"}, {"4", "o4"}, {"5", "o5"}, {"6", "o6"}, {"7", "o7"}},
         "SUCCESS"},
        {"no hash", {}, "SUCCESS"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        client().del("Port0Met3OdLsFile");
        std::vector<std::string> values;
        std::string value_lines;
        for (const auto &[field, value] : c.fields) {
            client().hset("Port0Met3OdLsFile", field, value);
            values.push_back(value);
            value_lines += value + "\n";
        }
        const auto [text, out] = run([] { return send_od_ls_file_list_det(4, "SN01"); });
        EXPECT_EQ(text, od_list(c.status, "meter_id_3", values));
        EXPECT_STRICT_JSON(text);
        EXPECT_EQ(out, "Total num of od files : " + std::to_string(2 * values.size()) + "\n" + value_lines +
                           "Sending Json text Len : " + std::to_string(text.size()) + "\n");
    }
}

TEST_F(Listings, OnDemandListFailures) {
    // A key of another type: the store answers with an error, a missing value.
    client().run({"SET", "Port0Met3OdLsFile", "f1"});
    auto [text, out] = run([] { return send_od_ls_file_list_det(4, "SN01"); });
    EXPECT_EQ(text, od_list("SUCCESS", "meter_id_3", {}));

    // The store gone: the meter is still known, but its list could not be read.
    store().stop();
    std::tie(text, out) = run([] { return send_od_ls_file_list_det(4, "SN01"); });
    EXPECT_EQ(text, od_list("FAILURE", "meter_id_3", {}));
    store().start();
    ASSERT_EQ(redis_init("127.0.0.1", store().port()), 0);
    client() = dcu::test::StoreClient(store().port());
    serial(0, 3, "SN01");

    // No meter has the serial number: no hash is read.
    dcu::test::Monitor monitor(store().port());
    std::tie(text, out) = run([] { return send_od_ls_file_list_det(4, "NOPE"); });
    EXPECT_EQ(text, od_list("FAILURE", "", {}));
    EXPECT_STRICT_JSON(text);
    EXPECT_EQ(monitor.take().size(), 20u);  // the serial-number reads only
}

TEST_F(Listings, DirectoryList) {
    make_files(kDataRoot, {"meter_id_x.txt", "other"});
    for (const char *dir : {"meter_id_0", "meter_id_12", "od"}) fs::create_directories(root() / kDataRoot / dir);
    const auto names = in_directory_order(kDataRoot, [](const std::string &n) { return holds(n, "meter_id"); });
    ASSERT_EQ(names.size(), 3u);
    const auto [text, out] = run([] { return send_dir_list_det(6); });
    EXPECT_EQ(text, answer_head("GET_DIR_LIST", 6, "SUCCESS") + "\"NUM_DIRS\":\"3\",\n\"DIR_LIST\":\n[\n" +
                        quoted_names(names) + "]\n}\n}\n");
    EXPECT_STRICT_JSON(text);
    EXPECT_EQ(out, "Sending Json text Len : " + std::to_string(text.size()) + "\n");

    fs::remove_all(root() / kDataRoot);
    fs::create_directories(root() / kDataRoot);
    EXPECT_EQ(run([] { return send_dir_list_det(6); }).first,
              answer_head("GET_DIR_LIST", 6, "SUCCESS") + "\"NUM_DIRS\":\"0\",\n\"DIR_LIST\":\n[\n]\n}\n}\n");
}

// Without a data root nothing is sent and -1 returned; json_text holds this
// answer's header, never the previous answer (a host that sent json_text
// after -1 would resend an old answer under its TYPE and SEQ_NUM).
TEST_F(Listings, DirectoryListWithoutDataRootSendsNothing) {
    std::strcpy(json_text, "{\n\"TYPE\":\"GET_METER_SER_LIST\",\n\"SEQ_NUM\":\"5\", an earlier and longer answer");
    const auto [text, out] = run([] { return send_dir_list_det(6); }, -1);
    EXPECT_TRUE(dcu::test::host().sent.empty());
    EXPECT_EQ(out, "Failed to opendir No such file or directory\n");
    EXPECT_EQ(std::string(json_text), answer_head("GET_DIR_LIST", 6, "SUCCESS"));
}

}  // namespace
