// The service page in real browsers, each case in both: headless Chromium
// (Debian's chromium and chromium-driver, driven by python3-selenium) and
// headless Firefox ESR (Debian's firefox-esr over WebDriver BiDi, through
// python3-websocket), both by tests/web/browser_steps.py, against the
// private lighttpd and the sample unit. A screenshot of each view is kept in
// the suite's scratch directory (DCU_WEB_BROWSER_DIR in the build tree), one
// directory per browser.
#include <cjson/cJSON.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/answer_checks.hpp"
#include "tests/web/support/served_unit.hpp"

namespace dcu::test {
namespace {

struct JsonDelete {
    void operator()(cJSON *tree) const noexcept { cJSON_Delete(tree); }
};
using JsonTree = std::unique_ptr<cJSON, JsonDelete>;

// A browser, what it takes, and what a test without it says.
struct Browser {
    const char *name;
    std::vector<const char *> programs;
    const char *python_module;
    const char *missing;
};

const Browser kBrowsers[] = {
    {"chromium", {"/usr/bin/chromium", "/usr/bin/chromedriver"}, "selenium",
     "no chromium, chromium-driver or python3-selenium (scripts/install-deps.sh)"},
    {"firefox", {"/usr/bin/firefox-esr"}, "websocket", "no firefox-esr or python3-websocket (scripts/install-deps.sh)"},
};

bool have(const Browser &browser) {
    static std::map<std::string, bool> known;
    const auto [entry, first] = known.emplace(browser.name, true);
    if (first) {
        for (const char *program : browser.programs) entry->second = entry->second && ::access(program, X_OK) == 0;
        RunOptions options;
        entry->second = entry->second && run_program({"/usr/bin/python3", "-c", std::string("import ") + browser.python_module},
                                                     options).exit_code == 0;
    }
    return entry->second;
}

std::vector<std::string> texts(const cJSON *list) {
    std::vector<std::string> out;
    const cJSON *item = nullptr;
    cJSON_ArrayForEach(item, list) {
        if (cJSON_IsString(item)) out.emplace_back(item->valuestring);
    }
    return out;
}

class PageInBrowser : public ServedUnit, public ::testing::WithParamInterface<Browser> {
protected:
    void SetUp() override {
        ServedUnit::SetUp();
        if (IsSkipped()) return;
        if (!have(GetParam())) GTEST_SKIP() << GetParam().missing;
    }

    // One step of browser_steps.py in this browser, its JSON result.
    JsonTree step(const std::vector<std::string> &words, const std::string &password = kPassword) const {
        const std::string browser = GetParam().name;
        std::vector<std::string> argv = {"/usr/bin/python3", DCU_WEB_BROWSER_STEPS, "--browser", browser,
                                         "--base", server().origin() + "/dcu/", "--user", kUser,
                                         "--password", password, "--shots", DCU_WEB_BROWSER_DIR "/" + browser};
        argv.insert(argv.end(), words.begin(), words.end());
        RunOptions options;
        options.timeout = std::chrono::seconds(300);
        const RunResult run = run_program(argv, options);
        EXPECT_EQ(run.exit_code, 0) << run.err << "\nlighttpd:\n" << server().error_log();
        JsonTree result(cJSON_Parse(run.out.c_str()));
        EXPECT_TRUE(result) << run.out << run.err;
        return result;
    }
    static std::string text_of(const JsonTree &tree, const char *name) {
        const cJSON *member = cJSON_GetObjectItemCaseSensitive(tree.get(), name);
        return cJSON_IsString(member) ? member->valuestring : "";
    }
};

// Tick two billing codes, move one before the other and rename it, save:
// the file holds exactly those two, in that order, and the next billing
// answer lists exactly those two columns under those names.
TEST_P(PageInBrowser, ChosenBillingCodesAreWhatTheBillingAnswerLists) {
    const std::string before = event_file();
    const JsonTree saved = step({"save-selection", R"({"view":"od-billing","tick":["1.0.9.8.0.255","1.0.10.8.0.255"],)"
                                                   R"("up":["1.0.10.8.0.255"],"names":{"1.0.10.8.0.255":"Export kVAh [page]"}})"});
    ASSERT_TRUE(saved);
    EXPECT_EQ(text_of(saved, "message"), "Saved: 2 parameters in BillParams of user_event_obis_det.json, read back as chosen.");
    EXPECT_EQ(texts(cJSON_GetObjectItemCaseSensitive(saved.get(), "checked")),
              (std::vector<std::string>{"1.0.10.8.0.255", "1.0.9.8.0.255"}));

    const std::string section = "\"BillParams\":\n{\n\"NumParams\":\"2\",\n\"ObisCodeList\":\n[\n"
                                "{\"obis\":\"1.0.10.8.0.255\",\"assign\":\"Export kVAh [page]\"},\n"
                                "{\"obis\":\"1.0.9.8.0.255\",\"assign\":\"1.0.9.8.0.255\"}\n]\n}";
    const RunResult embedded = dcuhost({"selection", kEventSelection, "BillParams"});
    EXPECT_EQ(embedded.out, section + before.substr(before.find("\n}") + 2));

    const RunResult billing = dcuhost({"billing", "8", serials()[0]});
    ASSERT_EQ(billing.exit_code, 0) << billing.err;
    EXPECT_EQ(answer_problem(billing.out), "") << billing.out;
    const JsonTree answer(cJSON_Parse(billing.out.c_str()));
    const cJSON *data = cJSON_GetObjectItemCaseSensitive(answer.get(), "DATA");
    // Columns in the file's order: 1.0.9.8.0.255 comes before 1.0.10.8.0.255.
    EXPECT_EQ(texts(cJSON_GetObjectItemCaseSensitive(data, "PARAM_LIST")),
              (std::vector<std::string>{"1.0.9.8.0.255", "Export kVAh [page]"}));
    EXPECT_EQ(answer_member(billing.out, "DATA.NUM_PARAM"), "2");
}

TEST_P(PageInBrowser, WrongPasswordIsRefused) {
    const JsonTree opened = step({"open"}, std::string(kPassword) + "!");
    ASSERT_TRUE(opened);
    EXPECT_FALSE(cJSON_IsTrue(cJSON_GetObjectItemCaseSensitive(opened.get(), "loaded")));
    EXPECT_EQ(cJSON_GetObjectItemCaseSensitive(opened.get(), "http_status")->valueint, 401)
        << text_of(opened, "title") << " / " << text_of(opened, "text");
}

TEST_P(PageInBrowser, PostWithoutTheTokenIsRefused) {
    const std::string before = event_file();
    const JsonTree posted = step({"post-without-token"});
    ASSERT_TRUE(posted);
    EXPECT_EQ(cJSON_GetObjectItemCaseSensitive(posted.get(), "status")->valueint, 403);
    EXPECT_EQ(text_of(posted, "body"), R"j({"error":"a change needs the page's token (X-DCU-Token)"})j");
    EXPECT_EQ(event_file(), before);
}

// The status view lists the meters that dcuhost meters lists, in its order,
// each with its place and link.
TEST_P(PageInBrowser, StatusViewShowsTheMetersOfTheMeterList) {
    const JsonTree status = step({"status"});
    ASSERT_TRUE(status);
    EXPECT_EQ(text_of(status, "message"), "7 meters.");
    const RunResult list = dcuhost({"meters", "9"});
    const JsonTree answer(cJSON_Parse(list.out.c_str()));
    const std::vector<std::string> listed =
        texts(cJSON_GetObjectItemCaseSensitive(cJSON_GetObjectItemCaseSensitive(answer.get(), "DATA"), "MET_LIST"));
    ASSERT_EQ(listed.size(), 7u);
    std::vector<std::string> shown;
    const cJSON *row = nullptr;
    int position = 0;
    cJSON_ArrayForEach(row, cJSON_GetObjectItemCaseSensitive(status.get(), "meters")) {
        const std::vector<std::string> cells = texts(row);
        ASSERT_EQ(cells.size(), 7u);
        shown.push_back(cells[0]);
        EXPECT_EQ(cells[1], std::to_string(position / 5 + 1));
        EXPECT_EQ(cells[2], std::to_string(position % 5 + 1));
        EXPECT_EQ(cells[3], "meter_id_" + std::to_string(position));
        EXPECT_EQ(cells[5], "2024-03-28 09:45:00");
        ++position;
    }
    EXPECT_EQ(shown, listed);
}

INSTANTIATE_TEST_SUITE_P(Browsers, PageInBrowser, ::testing::ValuesIn(kBrowsers),
                         [](const ::testing::TestParamInfo<Browser> &instance) { return std::string(instance.param.name); });

}  // namespace
}  // namespace dcu::test
