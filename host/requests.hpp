// The requests dcuhost answers: one table that the command-line words and
// the machine requests both go through.
//
// A request is named by a word of one or two parts ("meters", "files bill");
// its arguments follow in the order of the table, each also known by the
// member name a machine request gives it ("SEQ_NUM", "MET_SERNUM", ...).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dcu/reqhandlers.h"

namespace dcu::host {

enum class ArgKind {
    seq_num,     // the request's sequence number, any int
    text,        // any text
    u8,          // 0 to 255
    u16,         // 0 to 65535
    time_stamp,  // "YYYY-MM-DD HH:MM"
};

struct ArgRule {
    std::string_view member;  // e.g. "MET_SERNUM"
    ArgKind kind;
};

struct Arg {
    std::string text;       // as given
    long long number = 0;   // seq_num, u8 and u16
    ls_time_stamp stamp{};  // time_stamp
};
using Args = std::vector<Arg>;

struct RequestRow {
    std::string_view word;          // "meters", "files bill", ...
    // The TYPE a machine request names it by: the TYPE of its answer, or,
    // where that is shared with another request or there is no answer, a
    // TYPE of its own. Empty for the host's own requests, which machines
    // can't send.
    std::string_view machine_type;
    std::string_view answer_type;   // TYPE of the answer; empty when there is none
    std::vector<ArgRule> args;
    int (*call)(const Args &args);  // calls the handler; returns its result
    std::string_view summary;
};

const std::vector<RequestRow> &request_table();

struct ParsedRequest {
    const RequestRow *row = nullptr;
    Args args;
};

// Matches words against the table and converts the arguments; on failure
// returns nothing and says why in *error.
std::optional<ParsedRequest> parse_words(std::span<const std::string> words, std::string *error);

// Converts one argument of the given kind; false (and *error) when it is not one.
bool convert_arg(const ArgRule &arg_rule, std::string_view text, Arg *out, std::string *error);

// Checks between converted arguments (a range's START not after its END);
// false (and *error) when they don't hold.
bool check_args(const RequestRow &row, const Args &args, std::string *error);

// The usage text: every word with its arguments.
std::string usage_text();

}  // namespace dcu::host
