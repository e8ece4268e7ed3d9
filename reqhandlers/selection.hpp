// The users' parameter selections, written by the unit's web interface.
//
// A selection file holds the members of one JSON object without its outer
// braces; each member is a section ("BillParams", "MNParams", "EventParams",
// "LSParams", "InstParams") with "NumParams" (a decimal number as a JSON
// string) and "ObisCodeList" (objects with "obis", the code as the data files
// spell it, and "assign", the name the head-end sees).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace dcu::selection {

struct Entry {
    std::string obis;    // empty: matches nothing
    std::string assign;
};

struct Selection {
    std::vector<Entry> entries;  // NumParams entries, in file order
    bool file_failed = false;    // the file could not be found, opened or read whole
    bool refused = false;        // NumParams out of 0 to 255: nothing selected
    // Whether the answer that uses this selection must say "FAILURE".
    bool failed() const noexcept { return file_failed || refused; }
};

// The handlers print slightly different progress lines while they load a
// selection; the steps are the same.
struct Messages {
    bool opening_line;   // "opening user file json det : %s\n" first
    bool size_line;      // ">>File Size : %ld\n" once the size is known
    bool strlen_line;    // "Strlen : %d\n" after the read
    bool num_params_line; // "p_gen_ptr : %s\n" with the NumParams text
    const char *total_label;   // "<label> : <count>" once the count is known, or null
};

namespace messages {
inline constexpr Messages kProfile{false, false, false, true, nullptr};
inline constexpr Messages kFileContent{true, false, false, false, nullptr};
inline constexpr Messages kEventDetail{false, true, true, true, "total NUM_PARAM from User json File"};
inline constexpr Messages kInstant{false, true, true, true, "total NUM_PARAM from File"};
}  // namespace messages

// Loads the named section of the selection file at path (a path as the
// process opens it). Progress and failures go to standard output.
Selection load(const std::string &path, std::string_view section, const Messages &messages);

}  // namespace dcu::selection
