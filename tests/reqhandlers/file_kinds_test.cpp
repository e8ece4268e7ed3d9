// What stands in place of a data file, a selection file or a meter directory
// is read only when it is a regular file (a directory for a listing) inside
// the data tree: a FIFO, a link to /dev/zero, a socket, a directory, a link
// that leads out of the tree is one FAILURE answer at once, and the host
// answers the next request; a link that stays inside reads its target.
// Every case runs in a dcuhost session of its own, bounded in time: a
// handler that blocked would leave the session without its answers.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

#include "tests/reqhandlers/support/dcuhost_unit.hpp"
#include "tests/reqhandlers/support/profile_fixtures.hpp"
#include "tests/support/strict_json.hpp"

namespace {

namespace fs = std::filesystem;
using namespace dcu::test::profiles;


std::string content_answer(int seq_num, std::string_view dir_name, std::string_view file_name, bool whole) {
    const std::string echo = "\"MET_SERNUM\":\"SN01\",\n\"NUM_PARAM\":\"" + std::string(whole ? "2" : "0") +
                             "\",\n\"DIR_NAME\":\"" + std::string(dir_name) + "\",\n\"FILE_NAME\":\"" +
                             std::string(file_name) + "\",\n\"VIEW_TYPE\":\"V\",\n\"NUM_ENTRIES\":\"" +
                             (whole ? "2" : "0") + "\",\n";
    if (!whole) return answer_head("GET_BILL_FILE_CONTENT", seq_num, "FAILURE") + echo + lists_tail("", "FILE_DATA", "");
    return answer_head("GET_BILL_FILE_CONTENT", seq_num, "SUCCESS") + echo +
           lists_tail("\"Name 1\",\"Name 3\"\n", "FILE_DATA",
                      "{\"V0\":\"a1\",\"V1\":\"a3\"},\n{\"V0\":\"b1\",\"V1\":\"b3\"}\n");
}

std::string billing_answer(int seq_num, bool whole) {
    const std::string head =
        answer_head("OD_BILLING", seq_num, whole ? "SUCCESS" : "FAILURE") + "\"MET_SERNUM\":\"SN01\",\n";
    if (!whole) return head + "\"NUM_PARAM\":\"0\",\n\"NUM_ENTRIES\":\"0\",\n" + lists_tail("", "BILL_DATA", "");
    return head + "\"NUM_PARAM\":\"2\",\n\"NUM_ENTRIES\":\"2\",\n" +
           lists_tail("\"Name 1\",\"Name 3\"\n", "BILL_DATA",
                      "{\"V0\":\"a1\",\"V1\":\"a3\"},\n{\"V0\":\"b1\",\"V1\":\"b3\"}\n");
}

// What stands at a path, made for real.
struct Kind {
    const char *name;
    std::function<void(const fs::path &)> make;
    bool read;          // answered as the worked example
    bool leaves_tree;   // refused before anything is opened
    const char *error;  // the event dump's error text for it
};

// A socket bound at path, left in place when its descriptor closes.
void bind_socket(const fs::path &path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.string().size(), sizeof address.sun_path);
    path.string().copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ::close(fd);
}

const Kind kKinds[] = {
    {"FIFO", [](const fs::path &p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); }, false, false,
     "Operation not supported"},
    {"link to /dev/zero", [](const fs::path &p) { fs::create_symlink("/dev/zero", p); }, false, true,
     "Invalid cross-device link"},
    {"socket", bind_socket, false, false, "Operation not supported"},
    {"directory", [](const fs::path &p) { fs::create_directories(p); }, false, false, "Is a directory"},
    {"absolute link out of the tree", [](const fs::path &p) { fs::create_symlink("/etc/passwd", p); }, false, true,
     "Invalid cross-device link"},
    {"relative link out of the tree",
     [](const fs::path &p) { fs::create_symlink("../../../../../../etc/passwd", p); }, false, true,
     "Invalid cross-device link"},
    {"relative link inside", [](const fs::path &p) { fs::create_symlink("../meter_id_1/billing", p); }, true, false,
     ""},
    {"absolute link inside",
     [](const fs::path &p) { fs::create_symlink("/usr/tev/data/DlmsData/meter_id_1/billing", p); }, true, false, ""},
};

class FileKinds : public dcu::test::DcuhostUnit {
protected:
    void SetUp() override {
        DcuhostUnit::SetUp();
        // What the links out of the tree would reach, were they followed.
        dcu::test::write_file(unit("/etc/passwd"), "code-1\tcode-3\nroot\tx\n");
    }
    // Runs the request and then the next one (by default a content request
    // for meter_id_1's billing file; profile: the billing profile of SN01):
    // the first answer and what the first request printed, after checking
    // that the next request got its whole answer.
    std::pair<std::string, std::string> answered(const std::string &request, bool next_is_profile = false) const {
        const auto result = session(request + (next_is_profile ? "billing 2 SN01\n"
                                                               : "content bill 2 SN01 meter_id_1 billing V\n"));
        const auto answers = answers_in(result.out);
        EXPECT_EQ(answers.size(), 2u) << "exit " << result.exit_code << "\n" << result.out << result.err;
        if (answers.size() != 2) return {};
        EXPECT_EQ(answers[1], next_is_profile ? billing_answer(2, true) : content_answer(2, "meter_id_1", "billing", true));
        EXPECT_STRICT_JSON(answers[0]);
        const std::string first_request_end = "Sending Json text Len : ";
        return {answers[0], result.err.substr(0, result.err.find(first_request_end))};
    }
};

TEST_F(FileKinds, InPlaceOfADataFile) {
    for (const Kind &kind : kKinds) {
        SCOPED_TRACE(kind.name);
        fs::remove_all(data("meter_id_0/other"));
        kind.make(data("meter_id_0/other"));
        const auto [text, err] = answered("content bill 1 SN01 meter_id_0 other V\n");
        EXPECT_EQ(text, content_answer(1, "meter_id_0", "other", kind.read));
        // A path that leads out is refused before anything is opened.
        EXPECT_EQ(err.find("Refused data file path : meter_id_0/other\n") != std::string::npos, kind.leaves_tree)
            << err;
        EXPECT_EQ(err.find("Opening Data file") == std::string::npos, kind.leaves_tree) << err;
    }
}

TEST_F(FileKinds, InPlaceOfAProfileFile) {
    for (const Kind &kind : kKinds) {
        SCOPED_TRACE(kind.name);
        fs::remove_all(data("meter_id_0/billing"));
        kind.make(data("meter_id_0/billing"));
        EXPECT_EQ(answered("billing 1 SN01\n").first, billing_answer(1, kind.read));
    }
}

TEST_F(FileKinds, InPlaceOfTheEventFileOfTheDump) {
    for (const Kind &kind : kKinds) {
        SCOPED_TRACE(kind.name);
        fs::remove_all(data("meter_id_0/event_3"));
        kind.make(data("meter_id_0/event_3"));
        // The dump answers nothing: only the next request's answer comes.
        const auto result = session("event-dump 1 SN01 3\ncontent bill 2 SN01 meter_id_1 billing V\n");
        const auto answers = answers_in(result.out);
        ASSERT_EQ(answers.size(), 1u) << result.err;
        EXPECT_EQ(answers[0], content_answer(2, "meter_id_1", "billing", true));
        const std::string opened = "Total Line avaible : 3, in event type 3 file\n";
        const std::string refused = "Can't open event data file : " + data("meter_id_0/event_3").string() +
                                    ", error : " + kind.error + "\n";
        EXPECT_NE(result.err.find(kind.read ? opened : refused), std::string::npos) << result.err;
    }
}

TEST_F(FileKinds, InPlaceOfASelectionFile) {
    for (const Kind &kind : kKinds) {
        if (kind.read || kind.leaves_tree) continue;  // links don't matter outside the data tree
        SCOPED_TRACE(kind.name);
        fs::remove_all(unit(kBillSelection));
        kind.make(unit(kBillSelection));
        const auto [text, err] = answered("content bill 1 SN01 meter_id_0 billing V\n", true);
        EXPECT_EQ(text, answer_head("GET_BILL_FILE_CONTENT", 1, "FAILURE") +
                            "\"MET_SERNUM\":\"SN01\",\n\"NUM_PARAM\":\"0\",\n\"DIR_NAME\":\"meter_id_0\",\n"
                            "\"FILE_NAME\":\"billing\",\n\"VIEW_TYPE\":\"V\",\n\"NUM_ENTRIES\":\"2\",\n" +
                            lists_tail("", "FILE_DATA", "{},\n{}\n"));
        EXPECT_NE(err.find("can't open to read original file - " + unit(kBillSelection).string() + "\n"),
                  std::string::npos)
            << err;
        // The host's own copy of a selection file (fill_user_obis_det)
        // appends nothing: the session's only answer is the next request's.
        const auto copied = session("selection /srv/www/htdocs/user_bill_obis_det.json BillParams\nbilling 2 SN01\n");
        EXPECT_EQ(answers_in(copied.out), std::vector<std::string>{billing_answer(2, true)}) << copied.err;
        EXPECT_NE(copied.err.find("can't open to read original file - " + unit(kBillSelection).string() +
                                  "\ncan't read original file - " + unit(kBillSelection).string() + "\n"),
                  std::string::npos)
            << copied.err;
        fs::remove_all(unit(kBillSelection));
    }
}

TEST_F(FileKinds, InPlaceOfAMeterDirectory) {
    struct Case {
        const char *name;
        std::function<void(const fs::path &)> make;
        std::string list;  // FILE_LIST's line; empty: FAILURE
        const char *error;
    };
    const Case cases[] = {
        {"FIFO", [](const fs::path &p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); }, "", "Not a directory"},
        {"absolute link out of the tree", [](const fs::path &p) { fs::create_symlink("/etc", p); }, "",
         "Invalid cross-device link"},
        {"relative link out of the tree", [](const fs::path &p) { fs::create_symlink("../../../../../etc", p); }, "",
         "Invalid cross-device link"},
        {"relative link inside", [](const fs::path &p) { fs::create_symlink("meter_id_1", p); }, "\"billing\"]", ""},
        {"absolute link inside",
         [](const fs::path &p) { fs::create_symlink("/usr/tev/data/DlmsData/meter_id_1", p); }, "\"billing\"]", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(data("meter_id_2"));
        c.make(data("meter_id_2"));
        const auto [text, err] = answered("files bill 1 SN02\n");
        const bool listed = !c.list.empty();
        EXPECT_EQ(text, answer_head("GET_BILL_FILE_LIST", 1, listed ? "SUCCESS" : "FAILURE") +
                            "\"DIR_NAME\":\"meter_id_2\",\n\"NUM_FILES\":\"" + (listed ? "1" : "0") +
                            "\",\n\"FILE_LIST\":\n[\n" + (listed ? c.list : "]") + "\n}\n}\n");
        if (!listed) {
            EXPECT_NE(err.find(std::string("Failed to opendir ") + c.error + "\n"), std::string::npos) << err;
        }
    }
}

}  // namespace
