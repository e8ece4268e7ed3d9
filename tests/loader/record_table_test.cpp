// The publish table against the unit's field list: same fields, same order,
// same bytes, and every byte of the record either published once or not at all.
#include <gtest/gtest.h>

#include <set>
#include <utility>

#include "loader/config_record.hpp"
#include "tests/loader/fixtures.hpp"

namespace {

namespace fx = dcu::test::loader;
using dcu::loader::kPublishTable;
using dcu::loader::ValueType;

fx::Kind kind_of(ValueType type) {
    switch (type) {
    case ValueType::u8: return fx::Kind::u8;
    case ValueType::u16: return fx::Kind::u16;
    case ValueType::s16: return fx::Kind::s16;
    case ValueType::u32: return fx::Kind::u32;
    case ValueType::text: return fx::Kind::text;
    }
    return fx::Kind::text;
}

TEST(PublishTable, MatchesTheUnitsFieldsInCommandOrder) {
    const auto &expected = fx::published_fields();
    ASSERT_EQ(expected.size(), 393u);
    ASSERT_EQ(kPublishTable.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const auto &entry = kPublishTable[i];
        SCOPED_TRACE("command " + std::to_string(i + 1) + ": " + expected[i].key + " " + expected[i].field);
        EXPECT_EQ(entry.key.view(), expected[i].key);
        EXPECT_EQ(entry.field.view(), expected[i].field);
        EXPECT_EQ(entry.offset, expected[i].offset);
        EXPECT_EQ(kind_of(entry.type), expected[i].kind);
        EXPECT_EQ(entry.size, expected[i].size);
    }
}

TEST(PublishTable, CoversEveryNonReservedByteExactlyOnce) {
    std::array<int, dcu::loader::kRecordSize> uses{};
    for (const auto &entry : kPublishTable)
        for (std::size_t b = entry.offset; b < entry.offset + entry.size; ++b) ++uses.at(b);
    std::array<bool, dcu::loader::kRecordSize> unpublished{};
    for (const auto &range : fx::unpublished_ranges())
        for (std::size_t b = range.offset; b < range.offset + range.size; ++b) unpublished.at(b) = true;
    for (std::size_t b = 0; b < uses.size(); ++b)
        EXPECT_EQ(uses[b], unpublished[b] ? 0 : 1) << "byte " << b;
}

TEST(PublishTable, NamesEachStoreFieldOnceAndKeepsStepsTogether) {
    std::set<std::pair<std::string_view, std::string_view>> names;
    for (const auto &entry : kPublishTable)
        EXPECT_TRUE(names.emplace(entry.key.view(), entry.field.view()).second)
            << entry.key.view() << " " << entry.field.view();

    // Commands per step, in the loader's order.
    const std::size_t per_step[dcu::loader::kStepCount] = {23, 124, 81, 13, 8, 30, 16, 8, 7, 7, 25, 11, 14, 26};
    std::size_t first = 0;
    for (std::size_t s = 0; s < dcu::loader::kStepCount; ++s) {
        const auto entries = dcu::loader::entries_of(static_cast<dcu::loader::Step>(s));
        EXPECT_EQ(entries.data() - kPublishTable.data(), static_cast<std::ptrdiff_t>(first)) << "step " << s + 1;
        EXPECT_EQ(entries.size(), per_step[s]) << "step " << s + 1;
        first += per_step[s];
    }
}

}  // namespace
