// The selection files as dcuweb writes them: in exactly the format the
// selection loader reads (the members of one JSON object without its outer
// braces; NumParams a decimal number as a JSON string, equal to the length
// of ObisCodeList), one section replaced and every other byte of the file
// kept as it was.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "reqhandlers/selection.hpp"

namespace dcu::web::selection_text {

// A section selects at most 255 parameters (NumParams is an 8-bit count).
inline constexpr std::size_t kMostEntries = 255;
// The selection table of the unit's readers keeps an obis of at most 31 and
// a display name of at most 63 bytes: longer ones would be cut there.
inline constexpr std::size_t kLongestObis = 31;
inline constexpr std::size_t kLongestAssign = 63;

// Why an entry can't be written (an empty code or name, one too long, a
// control character, bytes that are not UTF-8, a tab in a code, which no
// header column can hold); empty when it can.
std::string entry_problem(const selection::Entry &entry);

// The section as the file holds it, without a line end after it:
//   "BillParams":
//   {
//   "NumParams":"2",
//   "ObisCodeList":
//   [
//   {"obis":"...","assign":"..."},
//   {"obis":"...","assign":"..."}
//   ]
//   }
std::string section_text(std::string_view section, std::span<const selection::Entry> entries);

// A top-level member of a selection file: its name and the bytes from the
// opening quote of the name to the end of its value.
struct Member {
    std::string name;
    std::size_t begin = 0;
    std::size_t end = 0;
};

// The members of a file the loader reads (wrapped in braces it parses as one
// JSON object, with nothing after it); nothing for any other text, a NUL
// byte among it included (the loader would stop there).
std::optional<std::vector<Member>> members_of(std::string_view file_text);

// The file with the section in place: the first member of that name (the
// one the loader reads) replaced, or the section added after the last
// member; every other byte as it was. An empty file (or one of blanks only)
// becomes the section and a line end. Nothing when members_of gives nothing.
std::optional<std::string> with_section(std::string_view file_text, std::string_view section,
                                        std::span<const selection::Entry> entries);

}  // namespace dcu::web::selection_text
