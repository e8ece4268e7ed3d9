// Selection files: the messages of each handler family and the resulting
// table, and fill_user_obis_det.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>

#include "reqhandlers/selection.hpp"
#include "tests/reqhandlers/support/host_fixture.hpp"

namespace {

namespace sel = dcu::selection;

constexpr const char *kUnitPath = "/srv/www/htdocs/user_event_obis_det.json";

const char *kTwoSections =
    "\"BillParams\":\n{\n\"NumParams\":\"2\",\n\"ObisCodeList\":\n[\n"
    "{\"obis\":\"code-1\",\"assign\":\"Name 1\"},\n{\"obis\":\"code-2\",\"assign\":\"Name 2\"}\n]\n},\n"
    "\"MNParams\":\n{\n\"NumParams\":\"0\",\n\"ObisCodeList\":\n[\n]\n}\n";

class SelectionLoad : public dcu::test::HandlerTest {
protected:
    std::string path() const { return (root() / kUnitPath).string(); }
    sel::Selection load(const char *section, const sel::Messages &messages, std::string *out) {
        sel::Selection result;
        *out = stdout_of([&] { result = sel::load(path(), section, messages); });
        return result;
    }
};

TEST_F(SelectionLoad, GoodFileGivesEntriesInFileOrder) {
    unit_file(kUnitPath, kTwoSections);
    std::string out;
    auto selection = load("BillParams", sel::messages::kProfile, &out);
    EXPECT_EQ(out, "tot bytes read from user json file : " + std::to_string(std::strlen(kTwoSections)) +
                       "\np_gen_ptr : 2\n");
    ASSERT_EQ(selection.entries.size(), 2u);
    EXPECT_EQ(selection.entries[1].obis, "code-2");
    EXPECT_EQ(selection.entries[1].assign, "Name 2");
    EXPECT_FALSE(selection.failed());
}

TEST_F(SelectionLoad, MessagesOfEachHandlerFamily) {
    unit_file(kUnitPath, kTwoSections);
    const std::string size = std::to_string(std::strlen(kTwoSections));
    struct Case {
        const sel::Messages *messages;
        std::string expected;
    };
    const Case cases[] = {
        {&sel::messages::kFileContent,
         "opening user file json det : " + path() + "\ntot bytes read from user json file : " + size + "\n"},
        {&sel::messages::kEventDetail, ">>File Size : " + size + "\ntot bytes read from user json file : " + size +
                                           "\nStrlen : " + size +
                                           "\np_gen_ptr : 0\ntotal NUM_PARAM from User json File : 0\n"},
        {&sel::messages::kInstant, ">>File Size : " + size + "\ntot bytes read from user json file : " + size +
                                       "\nStrlen : " + size + "\np_gen_ptr : 0\ntotal NUM_PARAM from File : 0\n"},
    };
    for (const auto &c : cases) {
        std::string out;
        load("MNParams", *c.messages, &out);
        EXPECT_EQ(out, c.expected);
    }
}

TEST_F(SelectionLoad, FaultyFiles) {
    struct Case {
        const char *name;
        const char *content;  // null: no file
        const char *section;
        std::string expected_tail;  // what follows the read line
        std::size_t entries;
        bool file_failed;
        bool refused;
    };
    const Case cases[] = {
        {"missing file", nullptr, "BillParams", "", 0, true, false},
        {"own braces", "{\"BillParams\":{\"NumParams\":\"1\"}}", "BillParams", "Improper Json format\n", 0, false,
         false},
        {"missing section", "\"MNParams\":{\"NumParams\":\"1\"}", "BillParams",
         "BillParams(): failed to get NumParams\n", 0, false, false},
        {"bare number", "\"BillParams\":{\"NumParams\":2,\"ObisCodeList\":[]}", "BillParams",
         "BillParams(): failed to get NumParams\n", 0, false, false},
        {"three of two", "\"BillParams\":{\"NumParams\":\"3\",\"ObisCodeList\":[{\"obis\":\"a\",\"assign\":\"A\"},"
                         "{\"obis\":\"b\",\"assign\":\"B\"}]}",
         "BillParams",
         "p_gen_ptr : 3\nObisCodeList(): failed to get Item obis for idx : 2\n"
         "ObisCodeList(): failed to get Item assign for idx : 2\n",
         3, false, false},
        {"count beyond 255", "\"BillParams\":{\"NumParams\":\"257\",\"ObisCodeList\":[]}", "BillParams",
         "p_gen_ptr : 257\nBillParams(): NumParams 257 out of range 0 to 255\n", 0, false, true},
        {"negative count", "\"BillParams\":{\"NumParams\":\"-1\",\"ObisCodeList\":[]}", "BillParams",
         "p_gen_ptr : -1\nBillParams(): NumParams -1 out of range 0 to 255\n", 0, false, true},
        {"trailing text", "\"BillParams\":{\"NumParams\":\"0\"}} junk", "BillParams", "Improper Json format\n", 0,
         false, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(root() / kUnitPath);
        if (c.content) unit_file(kUnitPath, c.content);
        std::string out;
        auto selection = load(c.section, sel::messages::kProfile, &out);
        const std::string expected =
            c.content ? "tot bytes read from user json file : " + std::to_string(std::strlen(c.content)) + "\n" +
                            c.expected_tail
                      : "can't Find original file - " + path() + "\n";
        EXPECT_EQ(out, expected);
        EXPECT_EQ(selection.entries.size(), c.entries);
        EXPECT_EQ(selection.file_failed, c.file_failed);
        EXPECT_EQ(selection.refused, c.refused);
    }
}

// A file that can't be opened, though stat gave its size (0 for a FIFO), is
// never read: both the open's and the read's messages come, as for any size.
TEST_F(SelectionLoad, AFileThatCannotBeOpenedIsNotReadAsEmpty) {
    std::filesystem::create_directories((root() / kUnitPath).parent_path());
    ASSERT_EQ(::mkfifo((root() / kUnitPath).c_str(), 0600), 0);
    std::string out;
    auto selection = load("EventParams", sel::messages::kEventDetail, &out);
    EXPECT_TRUE(selection.file_failed);
    EXPECT_EQ(out, ">>File Size : 0\ncan't open to read original file - " + path() + "\ncan't read original file - " +
                       path() + "\nStrlen : 0\nEventParams(): failed to get NumParams\n"
                                "total NUM_PARAM from User json File : 0\n");
}

TEST_F(SelectionLoad, UnreadableFileStillWalksEveryStep) {
    // A directory in place of the file: it exists, but cannot be read.
    std::filesystem::create_directories(root() / kUnitPath);
    std::string out;
    auto selection = load("EventParams", sel::messages::kEventDetail, &out);
    EXPECT_TRUE(selection.file_failed);
    EXPECT_NE(out.find("can't read original file - " + path() + "\nStrlen : 0\n"
                       "EventParams(): failed to get NumParams\ntotal NUM_PARAM from User json File : 0\n"),
              std::string::npos)
        << out;
}

class FillUserObisDet : public dcu::test::HandlerTest {};

TEST_F(FillUserObisDet, MissingFileAppendsAnEmptySection) {
    std::strcpy(json_text, "{\n");
    std::string out = stdout_of([&] { fill_user_obis_det((root() / "/srv/www/htdocs/none.json").c_str(), "LSParams"); });
    EXPECT_EQ(std::string(json_text), "{\n\"LSParams\":\n{\n\"NumParams\":\"0\",\n\"ObisCodeList\":\n[\n]\n}\n");
    EXPECT_EQ(out, "");
}

TEST_F(FillUserObisDet, ExistingFileIsAppendedVerbatim) {
    unit_file(kUnitPath, kTwoSections);
    std::strcpy(json_text, "X");
    fill_user_obis_det((root() / kUnitPath).c_str(), "BillParams");
    EXPECT_EQ(std::string(json_text), std::string("X") + kTwoSections);
}

TEST_F(FillUserObisDet, ContentThatDoesNotFitIsNotCut) {
    unit_file(kUnitPath, kTwoSections);
    std::memset(json_text, 'x', sizeof json_text - 10);
    json_text[sizeof json_text - 10] = '\0';
    std::string out = stdout_of([&] { fill_user_obis_det((root() / kUnitPath).c_str(), "BillParams"); });
    EXPECT_EQ(std::strlen(json_text), sizeof json_text - 10);
    EXPECT_EQ(out, "json text full, can't append original file - " + (root() / kUnitPath).string() + "\n");
}

}  // namespace
