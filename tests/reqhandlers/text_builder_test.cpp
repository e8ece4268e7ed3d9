// The answer text builder: exact shapes, escaping, and the bounded-buffer
// property (for any input and any too-small buffer the text is flagged, stays
// inside the buffer and is still strict JSON).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "reqhandlers/json_escape.hpp"
#include "reqhandlers/text_builder.hpp"
#include "tests/support/strict_json.hpp"

namespace {

using dcu::answer::TextBuilder;
namespace layout = dcu::answer::layout;

TEST(TextBuilder, EveryLayoutComesOutInItsShape) {
    std::vector<char> buffer(1024);
    TextBuilder text(buffer);
    text.member("TYPE", "X");
    text.member("SEQ_NUM", -12);
    text.open_member("DATA", layout::kObject);
    text.open_member("NAMES", layout::kNameLine);
    text.element("a");
    text.element("b");
    text.close();
    text.open_member("ROWS", layout::kRowList);
    text.open_element(layout::kInlineObject);
    text.member("V0", "1");
    text.member("V1", "2");
    text.close();
    text.open_element(layout::kInlineObject);
    text.close();
    text.close();
    text.open_member("EMPTY_NAMES", layout::kNameLine);
    text.close();
    text.open_member("FILES", layout::kEntryLine);
    text.element("f");
    text.close();
    text.open_member("OD", layout::kInlineList);
    text.close();
    text.finish();
    EXPECT_EQ(text.text(),
              "{\n\"TYPE\":\"X\",\n\"SEQ_NUM\":\"-12\",\n\"DATA\":\n{\n"
              "\"NAMES\":\n[\n\"a\",\"b\"\n],\n"
              "\"ROWS\":\n[\n{\"V0\":\"1\",\"V1\":\"2\"},\n{}\n],\n"
              "\"EMPTY_NAMES\":\n[\n],\n"
              "\"FILES\":\n[\n\"f\"],\n"
              "\"OD\":\n[]\n}\n}\n");
    EXPECT_FALSE(text.overflowed());
}

TEST(TextBuilder, DeferredCountLandsBeforeTheListItCounts) {
    std::vector<char> buffer(256);
    TextBuilder text(buffer);
    text.member("DIR_NAME", "meter_id_3");
    auto slot = text.defer_member(48);
    text.open_member("FILE_LIST", layout::kEntryLine);
    text.element("billing");
    text.element("billing_old");
    text.close();
    text.fill(slot, "NUM_FILES", 2);
    text.finish();
    EXPECT_EQ(text.text(),
              "{\n\"DIR_NAME\":\"meter_id_3\",\n\"NUM_FILES\":\"2\",\n\"FILE_LIST\":\n[\n\"billing\",\"billing_old\"]\n}\n");
}

// Deferred members are put in place when the text is finished, all in one
// move: wherever they stand (first in an object, side by side, nested) and
// in whatever order they are filled, the text is the one written with each
// member in its place.
struct DeferredCase {
    const char *name;
    bool first_in_object;  // the first member deferred opens its object
    bool side_by_side;     // the second deferred right after the first
    bool nested;           // the second inside an inner object
    bool second_filled_first;
};

void PrintTo(const DeferredCase &c, std::ostream *os) { *os << c.name; }

class DeferredMembers : public ::testing::TestWithParam<DeferredCase> {};

TEST_P(DeferredMembers, LandWhereTheyWereDeferred) {
    const DeferredCase &c = GetParam();
    // Writes the shape, the two counts either deferred or in place.
    auto write = [&](TextBuilder &text, bool deferred) {
        TextBuilder::Slot first, second;
        if (!c.first_in_object) text.member("MET_SERNUM", "SN01");
        if (deferred) first = text.defer_member(48);
        else text.member("NUM_PARAM", 2);
        if (!c.side_by_side) text.member("DIR_NAME", "meter_id_3");
        if (c.nested) text.open_member("INNER", layout::kObject);
        if (deferred) second = text.defer_member(48);
        else text.member("NUM_ENTRIES", 12345);
        text.open_member("BILL_DATA", layout::kRowList);
        for (int row = 0; row < 3; ++row) {
            text.open_element(layout::kInlineObject);
            text.member("V0", std::to_string(row));
            text.close();
        }
        text.close();
        if (c.nested) text.close();
        if (deferred && c.second_filled_first) text.fill(second, "NUM_ENTRIES", 12345);
        if (deferred) text.fill(first, "NUM_PARAM", 2);
        if (deferred && !c.second_filled_first) text.fill(second, "NUM_ENTRIES", 12345);
        text.member("LAST", "x");
        text.finish();
    };
    std::vector<char> in_place_buffer(512), deferred_buffer(512, '\x5a');
    TextBuilder in_place(in_place_buffer), deferred(deferred_buffer);
    write(in_place, false);
    write(deferred, true);
    EXPECT_EQ(deferred.text(), in_place.text());
    EXPECT_FALSE(deferred.overflowed());
    EXPECT_EQ(dcu::test::strict_json_error(deferred.text()), "") << deferred.text();
    // Beyond the text, nothing of the moves is left.
    EXPECT_EQ(deferred_buffer[deferred.size()], '\0');
}

const DeferredCase kDeferredCases[] = {
    {"apart_filled_in_order", false, false, false, false},
    {"apart_later_filled_first", false, false, false, true},
    {"side_by_side", false, true, false, false},
    {"side_by_side_later_filled_first", false, true, false, true},
    {"first_in_its_object", true, false, false, true},
    {"second_nested", false, false, true, true},
    {"first_in_object_and_side_by_side", true, true, false, false},
};
INSTANTIATE_TEST_SUITE_P(Shapes, DeferredMembers, ::testing::ValuesIn(kDeferredCases),
                         [](const auto &test_case) { return std::string(test_case.param.name); });

// A count put in place early with the value it is likely to get (expect)
// comes out as if it had only been filled: whether the guess was right,
// had fewer or more digits, or the count was never filled; and in any
// buffer, cut where the filled-only text is cut (the same room is kept).
TEST(TextBuilder, AnExpectedCountEndsAsAFilledOne) {
    struct Case {
        long long likely;
        long long actual;  // < 0: never filled
    };
    const Case cases[] = {{1100, 1100}, {1100, 1099}, {1100, 999}, {99, 100}, {1, 12345}, {7, -1}};
    auto write = [](TextBuilder &text, const Case &c, bool expect) {
        text.member("MET_SERNUM", "SN01");
        const auto count = text.defer_member(48);
        if (text.open_member("BILL_DATA", layout::kRowList)) {
            for (int row = 0; row < 4; ++row) {
                if (!text.object_element(layout::kInlineObject, std::vector<std::string_view>{"V0"},
                                         std::vector<std::string_view>{std::to_string(row * 1000)}))
                    break;
                if (row == 0 && expect) text.expect(count, "NUM_ENTRIES", c.likely);
            }
            text.close();
        }
        if (c.actual >= 0) text.fill(count, "NUM_ENTRIES", c.actual);
        text.member("LAST", "x");
        text.finish();
    };
    for (const Case &c : cases) {
        for (std::size_t capacity = 48; capacity <= 200; ++capacity) {
            std::vector<char> filled_buffer(capacity), expected_buffer(capacity);
            TextBuilder filled(filled_buffer), expected(expected_buffer);
            write(filled, c, false);
            write(expected, c, true);
            ASSERT_EQ(expected.text(), filled.text()) << c.likely << " " << c.actual << " in " << capacity;
            EXPECT_EQ(expected.overflowed(), filled.overflowed());
            EXPECT_EQ(dcu::test::strict_json_error(expected.text()), "") << expected.text();
            EXPECT_EQ(expected_buffer[expected.size()], '\0');
        }
    }
}

// Records of one shape written from its joints, in place or from a ready
// text, are the records object_element writes, and an element written in
// place leaves nothing of its moves beyond the text.
TEST(TextBuilder, RecordsOfAShapeComeOutAsObjectElements) {
    const std::vector<std::string_view> keys = {"V1", "V2", "V3"};
    const std::vector<std::vector<std::string_view>> records = {
        {"2024-03-01 00:00:00", "1234.5", ""}, {"", "", ""}, {"a \"quoted\" \\ value", "\x01", "\xc3\xa9"}};
    const dcu::answer::ObjectShape shape(layout::kInlineObject, keys);
    std::vector<char> general_buffer(1024), shaped_buffer(1024), in_place_buffer(1024);
    TextBuilder general(general_buffer), shaped(shaped_buffer), in_place(in_place_buffer);
    for (TextBuilder *text : {&general, &shaped, &in_place}) text->open_member("DATA", layout::kRowList);
    for (const auto &values : records) {
        ASSERT_TRUE(general.object_element(layout::kInlineObject, keys, values));
        ASSERT_TRUE(shaped.object_element(shape, values));
    }
    // In place: the first record as a caller writes it, with slot-wide
    // moves that scribble past its end.
    const std::string first = "{\"V1\":\"2024-03-01 00:00:00\",\"V2\":\"1234.5\",\"V3\":\"\"}";
    char *at = in_place.element_in_place(first.size());
    ASSERT_NE(at, nullptr);
    std::memcpy(at, first.data(), first.size());
    std::memset(at + first.size(), 'x', dcu::answer::ObjectShape::kSlot);
    in_place.end_in_place(at + first.size());
    EXPECT_EQ(std::string(at + first.size(), dcu::answer::ObjectShape::kSlot),
              std::string(dcu::answer::ObjectShape::kSlot, '\0'));
    ASSERT_TRUE(in_place.element_text("{\"V1\":\"\",\"V2\":\"\",\"V3\":\"\"}"));
    ASSERT_TRUE(in_place.object_element(shape, records[2]));
    for (TextBuilder *text : {&general, &shaped, &in_place}) {
        text->close();
        text->finish();
    }
    EXPECT_EQ(shaped.text(), general.text());
    EXPECT_EQ(in_place.text(), general.text());
    EXPECT_EQ(dcu::test::strict_json_error(in_place.text()), "") << in_place.text();
    EXPECT_EQ(std::string(in_place_buffer.data() + in_place.size(), 32), std::string(32, '\0'));

    // No room for a record at its longest (and its slot): not in place.
    std::vector<char> small_buffer(64);
    TextBuilder small(small_buffer);
    EXPECT_EQ(small.element_in_place(64), nullptr);
    EXPECT_FALSE(small.overflowed());
}

// A filled member's bytes stay kept until finish puts it in the text: what
// is written after the fill can't take them, so the finished text still
// fits its buffer, cut where it would have been cut with the member in place.
TEST(TextBuilder, AFilledMemberKeepsItsBytesUntilFinish) {
    for (std::size_t capacity = 40; capacity <= 160; ++capacity) {
        std::vector<char> memory(capacity + 64, '\x5a');
        TextBuilder text(std::span<char>(memory.data(), capacity));
        const auto slot = text.defer_member(48);
        text.open_member("LIST", layout::kEntryLine);
        text.close();
        const bool all_kept = !text.overflowed();
        text.fill(slot, "NUM_FILES", 1234567);
        std::size_t listed = 0;
        while (text.member("K" + std::to_string(listed), "v")) ++listed;
        const std::size_t size = text.finish();
        ASSERT_LT(size, capacity);
        for (std::size_t i = capacity; i < memory.size(); ++i) ASSERT_EQ(memory[i], '\x5a') << capacity;
        EXPECT_EQ(dcu::test::strict_json_error(text.text()), "") << text.text();

        // The same members written in place get exactly as far (once the
        // count's 48 bytes and the list were there).
        if (!all_kept) continue;
        std::vector<char> plain(capacity);
        TextBuilder reference(plain);
        reference.member("NUM_FILES", 1234567);
        reference.open_member("LIST", layout::kEntryLine);
        reference.close();
        std::size_t reference_listed = 0;
        while (reference.member("K" + std::to_string(reference_listed), "v")) ++reference_listed;
        EXPECT_EQ(listed, reference_listed) << capacity;
    }
}

TEST(TextBuilder, PatchReplacesAValueOfTheSameLength) {
    std::vector<char> buffer(128);
    TextBuilder text(buffer);
    auto at = text.member_at("CMD_STATUS", "SUCCESS");
    text.member("NEXT", "x");
    text.patch(at, "FAILURE");
    text.finish();
    EXPECT_EQ(text.text(), "{\n\"CMD_STATUS\":\"FAILURE\",\n\"NEXT\":\"x\"\n}\n");
}

TEST(JsonEscape, OrdinaryValuesStayAndTheRestIsEscaped) {
    struct Case {
        std::string value;
        std::string escaped;
    };
    const Case cases[] = {
        {"SN01 a-b/c", "SN01 a-b/c"},
        {"quote\"back\\slash", "quote\\\"back\\\\slash"},
        {"tab\tnl\ncr\r", "tab\\tnl\\ncr\\r"},
        {std::string("nul\0bell\x07", 9), "nul\\u0000bell\\u0007"},
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"},
        {"latin1 \xe9 cut \xe2\x82", "latin1 \\u00e9 cut \\u00e2\\u0082"},
        {"overlong \xc0\xaf surrogate \xed\xa0\x80", "overlong \\u00c0\\u00af surrogate \\u00ed\\u00a0\\u0080"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(dcu::answer::escaped(c.value), c.escaped);
        EXPECT_EQ(dcu::answer::escaped_length(c.value), c.escaped.size());
        EXPECT_EQ(dcu::test::strict_json_error("\"" + c.escaped + "\""), "");
    }
}

// The escaper works on blocks of eight bytes: every length and every place of
// a byte that needs escaping agrees with a plain byte-by-byte reference.
std::string reference_escape(const std::string &value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const auto c = static_cast<unsigned char>(value[i]);
        if (c == '"') out += "\\\"";
        else if (c == '\\') out += "\\\\";
        else if (c == '\n') out += "\\n";
        else if (c == 0x01) out += "\\u0001";
        else if (c == 0xC3 && i + 1 < value.size() && static_cast<unsigned char>(value[i + 1]) == 0xA9) out += value.substr(i++, 2);
        else if (c >= 0x80) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\u00%02x", c);
            out += hex;
        } else out += static_cast<char>(c);
    }
    return out;
}

TEST(JsonEscape, EveryLengthAndPlaceAgreesWithAByteByByteReference) {
    const std::string specials[] = {"\"", "\\", "\n", "\x01", "\xc3\xa9", "\xff"};
    for (std::size_t length = 0; length <= 24; ++length) {
        const std::string plain(length, 'a');
        EXPECT_EQ(dcu::answer::escaped(plain), plain);
        for (std::size_t at = 0; at < length; ++at) {
            for (const auto &special : specials) {
                std::string value = plain;
                value.replace(at, 1, special);
                EXPECT_EQ(dcu::answer::escaped(value), reference_escape(value)) << length << " " << at;
                EXPECT_EQ(dcu::answer::escaped_length(value), reference_escape(value).size());
            }
        }
    }
}

// Writes a random answer-like structure; returns whether every write fitted.
bool write_random_answer(TextBuilder &text, std::mt19937 &random) {
    const char *layouts_names[] = {"L0", "L1", "L2", "L3", "L4", "L5"};
    const dcu::answer::Layout *layouts[] = {&layout::kObject,    &layout::kRowList,    &layout::kNameLine,
                                            &layout::kEntryLine, &layout::kInlineList, &layout::kInlineObject};
    std::uniform_int_distribution<int> pick(0, 99);
    std::string junk = "a\"\\\n\x01\xc3\xa9\xff";
    auto random_text = [&] {
        std::string value;
        int length = pick(random) % 40;
        for (int i = 0; i < length; ++i) value += junk[static_cast<std::size_t>(pick(random)) % junk.size()];
        return value;
    };
    bool all_fitted = true;
    // Only objects take members and only lists take elements.
    std::vector<bool> in_object{true};
    for (int step = 0; step < 200; ++step) {
        int choice = pick(random);
        if (choice < 15 && in_object.size() > 1) {
            text.close();
            in_object.pop_back();
        } else if (choice < 35 && in_object.size() < 6) {
            int which = pick(random) % 6;
            bool is_object = which == 0 || which == 5;
            bool ok = in_object.back() ? text.open_member(layouts_names[which], *layouts[which])
                                       : text.open_element(*layouts[which]);
            all_fitted = all_fitted && ok;
            if (ok) in_object.push_back(is_object);
        } else if (choice < 45 && in_object.back()) {
            auto slot = text.defer_member(48);
            text.member("X", random_text());
            text.fill(slot, "COUNT", pick(random));
        } else {
            bool ok = in_object.back() ? text.member("K", random_text()) : text.element(random_text());
            all_fitted = all_fitted && ok;
        }
    }
    return all_fitted;
}

TEST(TextBuilder, AnyInputInAnyTooSmallBufferStaysInsideAndWellFormed) {
    for (unsigned seed = 0; seed < 40; ++seed) {
        std::vector<char> big(1 << 16);
        std::mt19937 random_big(seed);
        TextBuilder reference(big);
        ASSERT_TRUE(write_random_answer(reference, random_big));
        const std::size_t full_size = reference.finish();
        ASSERT_EQ(dcu::test::strict_json_error(reference.text()), "") << reference.text();

        for (std::size_t capacity : {std::size_t{8}, std::size_t{16}, std::size_t{64}, full_size / 2, full_size}) {
            // A guard zone after the buffer catches any write past its end.
            std::vector<char> memory(capacity + 64, '\x5a');
            TextBuilder text(std::span<char>(memory.data(), capacity));
            std::mt19937 random(seed);
            write_random_answer(text, random);
            const std::size_t size = text.finish();
            EXPECT_LT(size, capacity);
            EXPECT_EQ(memory[size], '\0');
            for (std::size_t i = capacity; i < memory.size(); ++i) ASSERT_EQ(memory[i], '\x5a');
            EXPECT_EQ(dcu::test::strict_json_error(text.text()), "") << text.text();
            EXPECT_TRUE(text.overflowed());
        }
    }
}

TEST(TextBuilder, RewindDropsAPartlyWrittenElement) {
    std::vector<char> buffer(64);
    TextBuilder text(buffer);
    text.open_member("ROWS", layout::kRowList);
    for (int row = 0; row < 10; ++row) {
        auto mark = text.mark();
        text.open_element(layout::kInlineObject);
        text.member("V0", "abcdef");
        text.close();
        if (text.failed_since(mark)) {
            text.rewind(mark);
            break;
        }
    }
    text.finish();
    EXPECT_EQ(dcu::test::strict_json_error(text.text()), "") << text.text();
    EXPECT_EQ(text.text(), "{\n\"ROWS\":\n[\n{\"V0\":\"abcdef\"},\n{\"V0\":\"abcdef\"}\n]\n}\n");
}

}  // namespace
