// The common workers of the on-demand profile and file-content answers.
#pragma once

#include <string>
#include <string_view>

#include "reqhandlers/profile_answer.hpp"

namespace dcu::profiles {

// An on-demand profile: its answer's TYPE, its section of the event
// selection file, the member that lists its records.
struct Profile {
    std::string_view type;
    std::string_view section;
    std::string_view data_key;
};

inline constexpr Profile kBilling{"OD_BILLING", "BillParams", "BILL_DATA"};
inline constexpr Profile kMidnight{"OD_MID_NIGHT", "MNParams", "MN_DATA"};
// Answered by send_od_event_det and, step by step, send_od_event_det11.
inline constexpr Profile kEvent{"OD_EVENT", "EventParams", "EVENT_DATA"};

// The event file of an event type, in the meter's directory.
inline std::string event_file_name(unsigned event_type) { return "event_" + std::to_string(event_type); }

// Loads the section of the selection file, reads the data file once and
// sends the answer of the given TYPE, with the records under data_key.
// CMD_STATUS is "FAILURE" when the selection file or the data file could not
// be read whole, or when not every record fitted. The selection file's path
// as the process opens it; the data file's relative to the data root (it is
// opened only inside the data tree). Returns 0.
int send_od_det(int seq_num, std::string_view ser_num, const std::string &selection_path, std::string_view section,
                std::string_view data_tree_path, std::string_view type, std::string_view data_key);

// The same answer for a named data file, with DIR_NAME, FILE_NAME and
// VIEW_TYPE echoed and the records under "FILE_DATA"; sends it.
void send_file_content_det(int seq_num, std::string_view ser_num, const std::string &selection_path,
                           std::string_view section, std::string_view data_tree_path,
                           const profile::ContentEcho &echo, std::string_view type);

}  // namespace dcu::profiles
