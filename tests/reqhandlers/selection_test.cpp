// Selection files: the messages of each handler family and the resulting
// table, and fill_user_obis_det.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include "reqhandlers/selection.hpp"
#include "reqhandlers/selection_json.hpp"
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

// The reader takes the text the platform's JSON parser takes and finds what
// lookups by name in its tree find (the fuzz target holds it against that
// parser for any text); these are the cases where that is not plain JSON.
TEST(SelectionJson, ReadsWhatTheTreeLookupsWouldFind) {
    struct Item {
        const char *obis;  // null: no such string member
        const char *assign;
    };
    struct Case {
        const char *name;
        std::string text;
        bool parsed;
        const char *num_params;
        std::vector<Item> items;
    };
    const auto nested = [](int arrays) {
        return "{\"a\":" + std::string(static_cast<std::size_t>(arrays), '[') +
               std::string(static_cast<std::size_t>(arrays), ']') + "}";
    };
    const Case cases[] = {
        {"first member of a name wins, whatever it holds", R"({"S":{"NumParams":2,"NumParams":"9"}})", true,
         nullptr, {}},
        {"first section wins", R"({"S":{"NumParams":"1"},"S":{"NumParams":"2"}})", true, "1", {}},
        {"a name ends at its first NUL", R"({"S\u0000x":{"NumParams":"3"}})", true, "3", {}},
        {"escapes decoded",
         R"({"S":{"NumParams":"1","ObisCodeList":[{"obis":"a\/b\t","assign":"\u00e9\ud83d\ude00"}]}})", true,
         "1", {{"a/b\t", "\xc3\xa9\xf0\x9f\x98\x80"}}},
        {"a bad hex digit is read as 0, which ends the text", R"({"S":{"NumParams":"x\uZZZZy"}})", true, "x", {}},
        {"bytes up to 32 are whitespace", "{\x01\"S\"\x1f:{\"NumParams\":\"4\"}\x02}", true, "4", {}},
        {"items that are not objects, and items past the last kept",
         R"({"S":{"ObisCodeList":[7,{"assign":"B","obis":"b"},{"obis":"c"}]}})", true, nullptr,
         {{nullptr, nullptr}, {"b", "B"}}},
        {"a list that is not an array", R"({"S":{"ObisCodeList":{"obis":"a"}}})", true, nullptr, {}},
        {"numbers, literals and other members", R"({"x":[-.5,1e5,0012,true,false,null],"S":{}})", true, nullptr, {}},
        {"a number of any length", "{\"x\":" + std::string(70, '6') + ",\"S\":{\"NumParams\":\"5\"}}", true, "5", {}},
        {"1000 levels of nesting", nested(999), true, nullptr, {}},
        {"1001 levels", nested(1000), false, nullptr, {}},
        {"unknown escape", R"({"S":"\q"})", false, nullptr, {}},
        {"lone low surrogate", R"({"S":"\udc00"})", false, nullptr, {}},
        {"high surrogate without its pair", R"({"S":"\ud800x"})", false, nullptr, {}},
        {"escape cut by the quote", R"({"S":"\u12"})", false, nullptr, {}},
        {"number cut short", R"({"S":[1e]})", false, nullptr, {}},
        {"comma before the end", R"({"S":[1,]})", false, nullptr, {}},
        {"text after the value", R"({"S":{}} x)", false, nullptr, {}},
        {"unclosed string", R"({"S":"abc)", false, nullptr, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const auto section = sel::json::read_section(c.text, "S", 2);
        ASSERT_EQ(section.has_value(), c.parsed);
        if (!section) continue;
        EXPECT_EQ(section->num_params.has_value(), c.num_params != nullptr);
        if (c.num_params != nullptr && section->num_params) {
            EXPECT_EQ(*section->num_params, c.num_params);
        }
        ASSERT_EQ(section->items.size(), c.items.size());
        for (std::size_t i = 0; i < c.items.size(); ++i) {
            const auto expect_text = [](const sel::json::Text &got, const char *want) {
                EXPECT_EQ(got.has_value(), want != nullptr);
                if (got && want != nullptr) {
                    EXPECT_EQ(*got, want);
                }
            };
            expect_text(section->items[i].obis, c.items[i].obis);
            expect_text(section->items[i].assign, c.items[i].assign);
        }
    }
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
