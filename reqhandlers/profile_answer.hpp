// The body shared by the profile answers (OD_BILLING, OD_MID_NIGHT,
// OD_EVENT) and the file-content answers: the records of one data file
// reduced to the user's selected columns.
//
//   "MET_SERNUM":"<as received>",
//   "NUM_PARAM":"<selected columns>",
//   "DIR_NAME":..., "FILE_NAME":..., "VIEW_TYPE":...   (file contents only)
//   "NUM_ENTRIES":"<records listed>",
//   "PARAM_LIST":
//   [
//   "<name>","<name>"
//   ],
//   "<DATA_KEY>":
//   [
//   {"V0":"<value>","V1":"<value>"},
//   {"V0":"<value>","V1":"<value>"}
//   ]
//
// Vj carries the parameter named by the j-th name of PARAM_LIST. Both counts
// are written from what was listed: a record that does not fit is left out
// whole, and so is every one after it; the file is read no further.
#pragma once

#include <span>
#include <string_view>

#include "reqhandlers/column_selection.hpp"
#include "reqhandlers/data_file.hpp"
#include "reqhandlers/selection.hpp"
#include "reqhandlers/text_builder.hpp"

namespace dcu::profile {

// The request's texts that a file-content answer echoes.
struct ContentEcho {
    std::string_view dir_name;
    std::string_view file_name;
    std::string_view view_type;
};

struct BodyShape {
    std::string_view ser_num;
    const ContentEcho *echo;  // null for the profile answers
    std::string_view data_key;
};

// What the answer lists; empty when nothing was read.
struct ProfileData {
    data_file::DataFile *file;  // its records are read from where it stands (null: none)
    std::span<const columns::SelectedColumn> selected;
    std::span<const selection::Entry> entries;
};

// Writes the body into DATA. Each display name but the last listed is also
// printed on standard output, followed by a comma.
void write_body(answer::TextBuilder &body, const BodyShape &shape, const ProfileData &data);

// Sends the answer that lists nothing, with CMD_STATUS "FAILURE"; returns
// what send_msg returned.
int send_without_data(std::string_view type, int seq_num, const BodyShape &shape);

}  // namespace dcu::profile
