// Reading and saving a view's section of its selection file. What the page
// shows is what the selection loader reads; what it saves is checked by the
// same loader before it is written and read back through it afterwards.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "reqhandlers/selection.hpp"
#include "web/selection_views.hpp"

namespace dcu::web::selection_files {

enum class State {
    ok,          // the section reads as it stands
    missing,     // no file: nothing selected (a save makes it)
    unreadable,  // not a regular file, or it can't be read
    unparsable,  // not the members of an object as the loader reads them: nothing selected, no save
    no_section,  // the file reads, without this section: nothing selected (a save adds it)
    refused,     // NumParams out of 0 to 255: nothing selected (a save replaces it)
};

struct Current {
    State state = State::ok;
    std::vector<selection::Entry> entries;  // as the loader reads them, in file order
};

Current current(const View &view);
std::string_view state_text(State state) noexcept;

struct Saved {
    int status = 200;     // an HTTP status
    std::string message;  // why not, unless 200
    std::vector<selection::Entry> entries;  // as the loader reads them back (200)
};

// Replaces the view's section with entries (checked by the caller) under the
// selection files' lock: the file is read, the section put in, the result
// checked through the loader, written whole (temporary file, rename) and
// read back through the loader. A file the loader would not read is never
// written; one that reads back otherwise is put back as it was.
Saved save(const View &view, std::span<const selection::Entry> entries);

}  // namespace dcu::web::selection_files
