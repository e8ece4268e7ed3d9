// Requests as head-end machines send them: one JSON object per request,
//
//   {"TYPE":"OD_BILLING","SEQ_NUM":"7","MET_SERNUM":"SN01"}
//
// whose TYPE names the request by the TYPE of its answer and whose members
// carry the arguments under the names of the request table. They go through
// the same table, and the same argument checks, as the command-line words.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "host/requests.hpp"

namespace dcu::host {

// The row of the table whose machine_type a machine TYPE names, if any.
const RequestRow *find_machine_request(std::string_view type, std::span<const RequestRow> table);

// Why a machine request can't be answered, and what of it could be read.
struct RequestFailure {
    std::string type;     // the TYPE sent when it was a string, else "UNKNOWN"
    std::string seq_num;  // the sequence number when one could be read, else empty
    std::string reason;   // short, for the answer's REASON member
};

struct MachineRequest {
    std::optional<ParsedRequest> request;  // set when the request can be answered
    RequestFailure failure;                // otherwise, why not
};

// Reads one request: the whole text must be one JSON object. TYPE is a
// string; SEQ_NUM and the numeric arguments are strings of decimal digits
// or JSON integers; the other arguments are strings, time stamps as
// "YYYY-MM-DD HH:MM". Members the request does not take are ignored.
MachineRequest parse_machine_request(std::string_view text, std::span<const RequestRow> table);
MachineRequest parse_machine_request(std::string_view text);

// The answer to a request that can't be answered: the envelope of the
// library's answers with CMD_STATUS "FAILURE" and the reason as DATA.
std::string failure_answer(const RequestFailure &failure);

}  // namespace dcu::host
