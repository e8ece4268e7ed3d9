#include "host/machine_request.hpp"

#include <cjson/cJSON.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "host/escaped_nul.hpp"
#include "host/request_limits.hpp"
#include "reqhandlers/envelope.hpp"
#include "reqhandlers/json_escape.hpp"

namespace dcu::host {

namespace {

constexpr std::string_view kUnknownType = "UNKNOWN";
constexpr std::string_view kSeqMember = "SEQ_NUM";

struct JsonFree {
    void operator()(cJSON *json) const noexcept { cJSON_Delete(json); }
};
using UniqueJson = std::unique_ptr<cJSON, JsonFree>;

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// One JSON object and nothing after it but blanks. A raw NUL byte is never
// part of a JSON text: refused rather than cutting a value short.
UniqueJson parse_object(std::string_view text) {
    if (text.find('\0') != std::string_view::npos) return nullptr;
    const char *end = nullptr;
    UniqueJson json(cJSON_ParseWithLengthOpts(text.data(), text.size(), &end, false));
    if (!json || !cJSON_IsObject(json.get())) return nullptr;
    for (const char *rest = end; rest < text.data() + text.size(); ++rest)
        if (!is_blank(*rest)) return nullptr;
    return json;
}

// The text of an argument member as the command line would give it: a
// string as it is; for the numeric kinds, a number as its shortest decimal
// form (integers come out as plain digits, anything else is then refused by
// the argument check). Nothing, with *error, when the member has no such text.
std::optional<std::string> member_text(const cJSON &object, const ArgRule &arg_rule, std::string *error) {
    const cJSON *member = cJSON_GetObjectItemCaseSensitive(&object, std::string(arg_rule.member).c_str());
    const std::string name(arg_rule.member);
    if (member == nullptr) {
        *error = name + " missing";
        return std::nullopt;
    }
    if (cJSON_IsString(member)) return std::string(member->valuestring);
    const bool numeric = arg_rule.kind == ArgKind::seq_num || arg_rule.kind == ArgKind::u8 || arg_rule.kind == ArgKind::u16;
    if (numeric && cJSON_IsNumber(member)) {
        char digits[32];
        std::snprintf(digits, sizeof digits, "%.17g", member->valuedouble);
        return std::string(digits);
    }
    *error = name + (numeric ? " must be a string or a whole number" : " must be a string");
    return std::nullopt;
}

// The sequence number to echo when the request fails: the one sent, when it
// is one.
std::string readable_seq_num(const cJSON &object) {
    const ArgRule arg_rule{kSeqMember, ArgKind::seq_num};
    std::string error;
    const auto text = member_text(object, arg_rule, &error);
    Arg arg;
    if (!text || !convert_arg(arg_rule, *text, &arg, &error)) return {};
    return std::to_string(arg.number);
}

MachineRequest refused(std::string type, std::string seq_num, std::string reason) {
    return {std::nullopt, {std::move(type), std::move(seq_num), std::move(reason)}};
}

// The members of a request that hold an escaped NUL, in their name or
// anywhere in their value. The parser keeps members and elements in the
// order they are written, so walking its tree meets the strings in the same
// order as strings_holding_nul lists them.
class NulMembers {
public:
    NulMembers(const cJSON &object, std::string_view text) : holds_nul_(strings_holding_nul(text)) {
        for (const cJSON *member = object.child; member != nullptr; member = member->next) {
            const bool in_name = next_holds_nul();
            const bool in_value = value_holds_nul(*member);
            if (!in_name && !in_value) continue;
            if (members_.empty()) first_in_name_ = in_name;
            members_.push_back(member);
        }
    }

    bool any() const { return !members_.empty(); }
    bool holds_nul(const cJSON *member) const {
        return std::find(members_.begin(), members_.end(), member) != members_.end();
    }
    // Why the request is refused: the first such member by its name, unless
    // the NUL is in the name itself (which the parser cut there).
    std::string reason() const {
        if (first_in_name_) return "a member name holds a NUL character";
        return echo_of(members_.front()->string) + " holds a NUL character";
    }

private:
    bool next_holds_nul() { return next_ < holds_nul_.size() && holds_nul_[next_++]; }
    bool value_holds_nul(const cJSON &value) {
        bool found = cJSON_IsString(&value) && next_holds_nul();
        const bool named_children = cJSON_IsObject(&value);
        for (const cJSON *child = value.child; child != nullptr; child = child->next) {
            const bool in_name = named_children && next_holds_nul();
            const bool in_child = value_holds_nul(*child);
            found = found || in_name || in_child;
        }
        return found;
    }

    std::vector<bool> holds_nul_;
    std::size_t next_ = 0;
    std::vector<const cJSON *> members_;
    bool first_in_name_ = false;
};

}  // namespace

const RequestRow *find_machine_request(std::string_view type, std::span<const RequestRow> table) {
    if (type.empty()) return nullptr;
    for (const auto &row : table)
        if (row.machine_type == type) return &row;
    return nullptr;
}

MachineRequest parse_machine_request(std::string_view text, std::span<const RequestRow> table) {
    // Not even parsed: the parser's tree would cost several times the text.
    if (text.size() > kMaxRequestBytes) return refused(std::string(kUnknownType), {}, too_large_reason());
    const UniqueJson json = parse_object(text);
    if (!json) return refused(std::string(kUnknownType), {}, "not a JSON object");

    // A NUL is refused in any member, not only in those the request takes:
    // one in a member's name cuts the name too, so a member that looks like
    // one to ignore (MET_SERNUM, an escaped NUL, then more letters) would be
    // read as one the request takes. What is echoed comes only from members
    // without one.
    const NulMembers nul_members(*json, text);
    const cJSON *seq_member = cJSON_GetObjectItemCaseSensitive(json.get(), std::string(kSeqMember).c_str());
    const std::string seq_num = nul_members.holds_nul(seq_member) ? std::string() : readable_seq_num(*json);
    const cJSON *type = cJSON_GetObjectItemCaseSensitive(json.get(), "TYPE");
    if (nul_members.any()) {
        const bool type_readable = cJSON_IsString(type) && !nul_members.holds_nul(type);
        return refused(type_readable ? echo_of(type->valuestring) : std::string(kUnknownType), seq_num,
                       nul_members.reason());
    }
    if (type == nullptr) return refused(std::string(kUnknownType), seq_num, "TYPE missing");
    if (!cJSON_IsString(type)) return refused(std::string(kUnknownType), seq_num, "TYPE must be a string");
    const std::string type_text(type->valuestring);

    const RequestRow *row = find_machine_request(type_text, table);
    if (row == nullptr) return refused(echo_of(type_text), seq_num, "unknown TYPE");

    ParsedRequest parsed{row, {}};
    for (const auto &arg_rule : row->args) {
        std::string error;
        const auto value = member_text(*json, arg_rule, &error);
        Arg arg;
        if (!value || !convert_arg(arg_rule, *value, &arg, &error)) return refused(type_text, seq_num, error);
        parsed.args.push_back(std::move(arg));
    }
    if (std::string error; !check_args(*row, parsed.args, &error)) return refused(type_text, seq_num, error);
    return {std::move(parsed), {}};
}

MachineRequest parse_machine_request(std::string_view text) { return parse_machine_request(text, request_table()); }

std::string failure_answer(const RequestFailure &failure) {
    // Room for the envelope's own text and for every value at its worst
    // once escaped: the builder never has to leave anything out.
    constexpr std::size_t kEnvelopeRoom = 256;
    std::string text(kEnvelopeRoom + answer::max_escaped_length(failure.type.size() + failure.seq_num.size() +
                                                                failure.reason.size()),
                     '\0');
    answer::TextBuilder builder{std::span<char>(text)};
    answer::open_envelope(builder, failure.type, failure.seq_num, answer::CommandType::od_message, answer::kFailure);
    builder.member("REASON", failure.reason);
    text.resize(builder.finish());
    return text;
}

}  // namespace dcu::host
