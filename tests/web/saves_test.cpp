// A section saved through dcuweb: in exactly the format the loader reads,
// every other byte of its file as it was, read by the handlers as chosen,
// and never interleaved with another save.
#include <cjson/cJSON.h>
#include <gtest/gtest.h>
#include <sys/file.h>

#include <chrono>
#include <fcntl.h>
#include <future>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/unique_fd.hpp"
#include "tests/support/answer_checks.hpp"
#include "tests/support/small_tmpfs.hpp"
#include "tests/web/support/web_unit.hpp"

namespace dcu::test {
namespace {

// The change every splice case saves: a name with quotes and letters
// beyond ASCII, then a plain one.
constexpr const char *kChange =
    R"({"entries":[{"obis":"1.0.1.8.0.255","assign":"Énergie \"import\" kWh"},{"obis":"0.0.1.0.0.255","assign":"Read at"}]})";
constexpr const char *kSaved =
    R"({"saved":true,"id":"od-billing","title":"On-demand billing","file":"user_event_obis_det.json",)"
    R"("section":"BillParams","kind":"billing","num_params":"2","selected":[{"obis":"1.0.1.8.0.255",)"
    R"("assign":"Énergie \"import\" kWh"},{"obis":"0.0.1.0.0.255","assign":"Read at"}]})";
// The section as dcuweb writes it.
constexpr const char *kNewBill = "\"BillParams\":\n{\n\"NumParams\":\"2\",\n\"ObisCodeList\":\n[\n"
                                 "{\"obis\":\"1.0.1.8.0.255\",\"assign\":\"Énergie \\\"import\\\" kWh\"},\n"
                                 "{\"obis\":\"0.0.1.0.0.255\",\"assign\":\"Read at\"}\n]\n}";

constexpr const char *kOldBill =
    "\"BillParams\":\n{\n\"NumParams\":\"1\",\n\"ObisCodeList\":\n[\n{\"obis\":\"1.0.2.8.0.255\",\"assign\":\"Export\"}\n]\n}";
constexpr const char *kMidnight =
    "\"MNParams\":\n{\n\"NumParams\":\"1\",\n\"ObisCodeList\":\n[\n{\"obis\":\"1.0.32.7.0.255\",\"assign\":\"V1\"}\n]\n}";
constexpr const char *kEvent = "\"EventParams\":\n{\n\"NumParams\":\"0\",\n\"ObisCodeList\":\n[\n]\n}";

std::string s(const char *text) { return text; }

struct Splice {
    const char *name;
    std::optional<std::string> before;  // the event file before the save; nothing: there is none
    std::string after;                  // the whole file after it
};

const Splice kSplices[] = {
    {"MiddleOfThreeSections", s(kMidnight) + ",\n" + kOldBill + ",\n" + kEvent + "\n",
     s(kMidnight) + ",\n" + kNewBill + ",\n" + kEvent + "\n"},
    {"FirstSection", s(kOldBill) + ",\n" + kMidnight + ",\n" + kEvent + "\n",
     s(kNewBill) + ",\n" + kMidnight + ",\n" + kEvent + "\n"},
    {"LastSectionWithoutLineEnd", s(kMidnight) + ",\n" + kOldBill, s(kMidnight) + ",\n" + kNewBill},
    {"OtherLayoutKeptByteForByte",
     "  \"MNParams\" : {\"NumParams\":\"0\",\"ObisCodeList\":[]} ,\r\n\t\"BillParams\" :{ \"NumParams\" : \"1\","
     "\"ObisCodeList\":[{\"obis\":\"x\",\"assign\":\"X\"}] }\t,\r\n\"EventParams\":\n{\"NumParams\":\"0\",\"ObisCodeList\":[ ]}\r\n",
     "  \"MNParams\" : {\"NumParams\":\"0\",\"ObisCodeList\":[]} ,\r\n\t" + s(kNewBill) +
         "\t,\r\n\"EventParams\":\n{\"NumParams\":\"0\",\"ObisCodeList\":[ ]}\r\n"},
    {"SectionMissing", s(kMidnight) + ",\n" + kEvent + "\n", s(kMidnight) + ",\n" + kEvent + ",\n" + kNewBill + "\n"},
    {"SectionTwiceFirstReplaced", s(kOldBill) + ",\n" + kOldBill + "\n", s(kNewBill) + ",\n" + kOldBill + "\n"},
    {"SectionNameEscaped", "\"Bill\\u0050arams\":{\"NumParams\":\"0\",\"ObisCodeList\":[]},\n" + s(kEvent) + "\n",
     s(kNewBill) + ",\n" + kEvent + "\n"},
    {"NumParamsOutOfRange",
     s(kMidnight) + ",\n\"BillParams\":{\"NumParams\":\"300\",\"ObisCodeList\":[]}\n",
     s(kMidnight) + ",\n" + kNewBill + "\n"},
    {"NumParamsAsBareNumber", "\"BillParams\":{\"NumParams\":1,\"ObisCodeList\":[{\"obis\":\"x\",\"assign\":\"X\"}]}\n",
     s(kNewBill) + "\n"},
    {"EmptyFile", s(""), s(kNewBill) + "\n"},
    {"BlankFile", s("\n  \n"), s(kNewBill) + "\n"},
    {"NoFile", std::nullopt, s(kNewBill) + "\n"},
};

class SavedSection : public WebUnit, public ::testing::WithParamInterface<Splice> {};

TEST_P(SavedSection, ReadsBackAsChosenWithTheRestOfTheFileAsItWas) {
    const Splice &splice = GetParam();
    const auto path = unit(kEventSelection);
    if (splice.before) write_file(path, *splice.before);
    else std::filesystem::remove(path);
    auto expected_files = web_root_files();
    expected_files["user_event_obis_det.json"] = splice.after;

    const CgiReply reply = post("od-billing", kChange);
    ASSERT_EQ(reply.status, 200) << reply.body;
    EXPECT_EQ(reply.body, kSaved);
    // Nothing but the file changed: no temporary file is left beside it.
    EXPECT_EQ(web_root_files(), expected_files);
    // The text the host embeds for the file, as the library reads it.
    const RunResult embedded = dcuhost({"selection", kEventSelection, "BillParams"});
    EXPECT_EQ(embedded.exit_code, 0) << embedded.err;
    EXPECT_EQ(embedded.out, splice.after);
}

INSTANTIATE_TEST_SUITE_P(EventFile, SavedSection, ::testing::ValuesIn(kSplices),
                         [](const auto &case_info) { return std::string(case_info.param.name); });

// ---- the handlers answer with what was saved ---------------------------

struct JsonDelete {
    void operator()(cJSON *tree) const noexcept { cJSON_Delete(tree); }
};
using JsonTree = std::unique_ptr<cJSON, JsonDelete>;

std::vector<std::string> codes_of_view(const std::string &body) {
    std::vector<std::string> codes;
    const JsonTree tree(cJSON_Parse(body.c_str()));
    const cJSON *code = nullptr;
    cJSON_ArrayForEach(code, cJSON_GetObjectItemCaseSensitive(tree.get(), "codes")) {
        codes.emplace_back(cJSON_GetObjectItemCaseSensitive(code, "obis")->valuestring);
    }
    return codes;
}

// The display names an answer lists: PARAM_LIST, or the params of INST_PARAM.
std::vector<std::string> names_in_answer(const std::string &answer) {
    std::vector<std::string> names;
    const JsonTree tree(cJSON_Parse(answer.c_str()));
    const cJSON *data = cJSON_GetObjectItemCaseSensitive(tree.get(), "DATA");
    const cJSON *item = nullptr;
    cJSON_ArrayForEach(item, cJSON_GetObjectItemCaseSensitive(data, "PARAM_LIST")) { names.emplace_back(item->valuestring); }
    cJSON_ArrayForEach(item, cJSON_GetObjectItemCaseSensitive(data, "INST_PARAM")) {
        names.emplace_back(cJSON_GetObjectItemCaseSensitive(item, "param")->valuestring);
    }
    return names;
}

struct ViewAnswer {
    const char *view;
    std::vector<std::string> request;  // dcuhost's words; "SN" is the meter's serial number
    bool selection_order;              // the answer lists the selection's order (else the header's)
};

const ViewAnswer kViewAnswers[] = {
    {"od-billing", {"billing", "5", "SN"}, false},
    {"od-midnight", {"midnight", "5", "SN", "3", "2024"}, false},
    {"events", {"event", "5", "SN", "2"}, false},
    {"bill-content", {"content", "bill", "5", "SN", "meter_id_1", "billing", "V1"}, false},
    {"dp-content", {"content", "dp", "5", "SN", "meter_id_1", "dp_03_2024", "V1"}, false},
    {"ls-content", {"content", "ls", "5", "SN", "meter_id_1", "2024_03_27", "V1"}, false},
    {"inst", {"inst", "5", "SN"}, true},
};

class ViewSaved : public WebUnit, public ::testing::WithParamInterface<ViewAnswer> {};

TEST_P(ViewSaved, IsWhatItsHandlerAnswersWith) {
    const ViewAnswer &row = GetParam();
    const std::vector<std::string> codes = codes_of_view(get(std::string("view=") + row.view).body);
    ASSERT_GE(codes.size(), 2u);
    // The two codes the unit lists first, chosen the other way round.
    const std::string body = R"({"entries":[{"obis":")" + codes[1] + R"(","assign":"Second name"},{"obis":")" +
                             codes[0] + R"(","assign":"First name"}]})";
    ASSERT_EQ(post(row.view, body).status, 200);

    std::vector<std::string> words = row.request;
    for (std::string &word : words)
        if (word == "SN") word = serials()[1];
    const RunResult answer = dcuhost(words);
    ASSERT_EQ(answer.exit_code, 0) << answer.err;
    EXPECT_EQ(answer_problem(answer.out), "") << answer.out;
    EXPECT_EQ(answer_member(answer.out, "CMD_STATUS"), "SUCCESS") << answer.out;
    const std::vector<std::string> expected = row.selection_order
                                                  ? std::vector<std::string>{"Second name", "First name"}
                                                  : std::vector<std::string>{"First name", "Second name"};
    EXPECT_EQ(names_in_answer(answer.out), expected) << answer.out;
}

INSTANTIATE_TEST_SUITE_P(EachView, ViewSaved, ::testing::ValuesIn(kViewAnswers),
                         [](const auto &case_info) {
                             std::string name = case_info.param.view;
                             for (char &c : name)
                                 if (c == '-') c = '_';
                             return name;
                         });

// ---- saves one after another -------------------------------------------

// A save waits for the lock that another writer holds, and changes the
// file as that writer left it: nothing the other wrote is lost.
TEST_F(WebUnit, SaveWaitsForTheLockAndKeepsWhatTheHolderWrote) {
    const std::string original = event_file();
    const UniqueFd lock(::open((web_root() / ".dcuweb.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    ASSERT_TRUE(lock);
    ASSERT_EQ(::flock(lock.get(), LOCK_EX), 0);

    auto save = std::async(std::launch::async, [] { return post("od-billing", kChange); });
    // The save does not go ahead while the lock is held.
    EXPECT_EQ(save.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
    EXPECT_EQ(event_file(), original);

    // The holder's own change, from what it read before the save began.
    const std::string load_survey = ",\n\"LSParams\":\n{\n\"NumParams\":\"0\",\n\"ObisCodeList\":\n[\n]\n}\n";
    const std::string by_holder = original.substr(0, original.size() - 1) + load_survey;
    write_file(unit(kEventSelection), by_holder);
    ASSERT_EQ(::flock(lock.get(), LOCK_UN), 0);

    const CgiReply reply = save.get();
    ASSERT_EQ(reply.status, 200) << reply.body;
    const std::size_t bill_end = by_holder.find("\n}") + 2;
    EXPECT_EQ(event_file(), kNewBill + by_holder.substr(bill_end));
}

// Two saves of one section: the later one is what the file holds.
TEST_F(WebUnit, LaterSaveOfASectionWins) {
    ASSERT_EQ(post("od-billing", R"({"entries":[{"obis":"1.0.2.8.0.255","assign":"Export"}]})").status, 200);
    ASSERT_EQ(post("od-billing", kChange).status, 200);
    const std::string file = event_file();
    EXPECT_EQ(file.substr(0, std::string(kNewBill).size()), kNewBill);
}

// A save that can't be checked (no room for the new text: here the file
// size limit) writes nothing.
TEST_F(WebUnit, SaveThatCantBeCheckedChangesNothing) {
    const auto before = web_root_files();
    CgiCall call;
    call.method = "POST";
    call.query = "view=od-billing";
    call.token = token();
    call.body = kChange;
    call.max_file_size = 200;
    const CgiReply reply = cgi(call);
    EXPECT_EQ(reply.status, 500);
    EXPECT_EQ(reply.body,
              R"({"error":"can't check the new user_event_obis_det.json: File too large; nothing was changed"})");
    EXPECT_EQ(web_root_files(), before);
}

// A save on a full disk leaves the file as it was, and no temporary file beside it.
TEST_F(WebUnit, SaveOnAFullDiskChangesNothing) {
    const auto files = web_root_files();
    const SmallTmpfs disk(web_root(), 64 * 1024);
    if (!disk.mounted()) GTEST_SKIP() << "a tmpfs can't be mounted here";
    for (const auto &[name, text] : files) write_file(web_root() / name, text);
    token();  // the secret is made before the disk fills
    disk.fill();
    const auto before = web_root_files();
    const CgiReply reply = post("od-billing", kChange);
    EXPECT_EQ(reply.status, 500);
    EXPECT_EQ(reply.body,
              R"({"error":"can't replace user_event_obis_det.json: No space left on device; it is as it was"})");
    EXPECT_EQ(web_root_files(), before);
}

}  // namespace
}  // namespace dcu::test
