// Reading a selection file's JSON text without building a tree of it.
//
// The files come from the web interface and from service engineers' hands,
// and every file that was read before must read the same now: this reader
// takes exactly the text the cJSON parser of the platform takes (bytes 0 to 32
// are all whitespace, a bad \u digit counts as 0, a member name is compared
// as a C text, so up to its first NUL, and containers nest at most 1000 deep)
// and keeps what lookups by name in its tree would find: the first member of
// each name, whatever its type.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dcu::selection::json {

// A member that holds a JSON string, when it does (its text up to its first
// NUL, as a C text holds it).
using Text = std::optional<std::string>;

struct Item {
    Text obis;    // the item's "obis"
    Text assign;  // the item's "assign"
};

struct Section {
    Text num_params;          // the section's "NumParams"
    std::vector<Item> items;  // the first items of its "ObisCodeList" when that is a list
};

// Parses text as one JSON value with nothing but whitespace after it, and
// reads the member named section_name of it (when it is an object), keeping at
// most max_items items of the list. Nothing when the text is not JSON.
std::optional<Section> read_section(std::string_view text, std::string_view section_name, std::size_t max_items);

}  // namespace dcu::selection::json
