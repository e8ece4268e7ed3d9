// The selections the service page edits: one view for each (file, section)
// pair the handlers read, with the kind of data whose OBIS codes it offers.
#pragma once

#include <span>
#include <string_view>

namespace dcu::web {

enum class DataKind {
    billing,        // the meters' billing files
    daily,          // their midnight profiles, dp_MM_YYYY
    event,          // their event logs, event_N
    load_survey,    // their load-survey files, the on-demand ones included
    instantaneous,  // the codes of their last readings in the store
};

struct View {
    std::string_view id;       // the page's name for it, in URLs
    std::string_view title;    // what the page calls it
    std::string_view file;     // the selection file as the unit names it
    std::string_view section;  // the member of that file
    DataKind kind;
};

std::span<const View> views() noexcept;
// The view of that id; null when there is none.
const View *find_view(std::string_view id) noexcept;
std::string_view kind_name(DataKind kind) noexcept;

}  // namespace dcu::web
