#include "host/requests.hpp"

#include <charconv>
#include <cstring>
#include <iterator>
#include <limits>

#include "common/civil_time.hpp"
#include "common/paths.hpp"
#include "host/request_limits.hpp"

namespace dcu::host {

namespace {

const char *text_of(const Args &args, std::size_t i) { return args[i].text.c_str(); }
int seq_of(const Args &args) { return static_cast<int>(args[0].number); }

// fill_user_obis_det appends to the text the host is building; dcuhost
// builds nothing else, so it starts from an empty text and sends what the
// library appended.
int selection_request(const Args &args) {
    std::memset(json_text, 0, sizeof json_text);
    const std::string path = paths::on_unit(args[0].text);
    fill_user_obis_det(path.c_str(), text_of(args, 1));
    return send_msg(json_text);
}

constexpr ArgRule kSeq{"SEQ_NUM", ArgKind::seq_num};
constexpr ArgRule kSerNum{"MET_SERNUM", ArgKind::text};
constexpr ArgRule kEventType{"EVENT_TYPE", ArgKind::u8};
constexpr ArgRule kContentArgs[] = {
    kSeq, kSerNum, {"DIR_NAME", ArgKind::text}, {"FILE_NAME", ArgKind::text}, {"VIEW_TYPE", ArgKind::text}};

std::uint8_t u8_of(const Args &args, std::size_t i) { return static_cast<std::uint8_t>(args[i].number); }
std::uint16_t u16_of(const Args &args, std::size_t i) { return static_cast<std::uint16_t>(args[i].number); }

// A file-content handler called with the request's five arguments.
template <int (*handler)(int, const char *, const char *, const char *, const char *)>
int content_request(const Args &a) {
    return handler(seq_of(a), text_of(a, 1), text_of(a, 2), text_of(a, 3), text_of(a, 4));
}

}  // namespace

const std::vector<RequestRow> &request_table() {
    const std::vector<ArgRule> content_args(std::begin(kContentArgs), std::end(kContentArgs));
    static const std::vector<RequestRow> table = {
        {"meters", "GET_METER_SER_LIST", "GET_METER_SER_LIST", {kSeq},
         [](const Args &a) { return send_met_ser_num_det(seq_of(a)); },
         "the serial numbers of the unit's meters"},
        {"selection", "", "", {{"FILE", ArgKind::text}, {"SECTION", ArgKind::text}}, selection_request,
         "a selection file's text as the host embeds it (FILE as on the unit)"},
        {"inst", "OD_INST", "OD_INST", {kSeq, {"MET_SERNUM", ArgKind::text}},
         [](const Args &a) { return send_od_inst_det(seq_of(a), text_of(a, 1)); },
         "a meter's selected instantaneous values"},
        {"ls-range", "OD_LS_RANGE", "",
         {kSeq, {"MET_SERNUM", ArgKind::text}, {"START", ArgKind::time_stamp}, {"END", ArgKind::time_stamp}},
         [](const Args &a) {
             send_od_ls_range_det(seq_of(a), text_of(a, 1), a[2].stamp, a[3].stamp);
             return 0;
         },
         "hands a load-survey range read to the meter-reading process (no answer)"},
        {"modem", "GET_MODEM_DIAG_MESSAGE", "GET_MODEM_DIAG_MESSAGE", {kSeq},
         [](const Args &a) { return send_modem_status_det(seq_of(a)); },
         "the modem's state"},
        {"commn", "GET_COMMN_STATUS_MESSAGE", "GET_COMMN_STATUS_MESSAGE", {kSeq},
         [](const Args &a) { return send_commn_status_det(seq_of(a)); },
         "the communication status of every configured meter"},
        {"billing", "OD_BILLING", "OD_BILLING", {kSeq, kSerNum},
         [](const Args &a) { return send_od_billing_det(seq_of(a), text_of(a, 1)); },
         "a meter's billing profile, selected parameters"},
        {"midnight", "OD_MID_NIGHT", "OD_MID_NIGHT", {kSeq, kSerNum, {"MONTH", ArgKind::u8}, {"YEAR", ArgKind::u16}},
         [](const Args &a) { return send_od_midnight_det(seq_of(a), text_of(a, 1), u8_of(a, 2), u16_of(a, 3)); },
         "a meter's midnight profile of one month"},
        {"event", "OD_EVENT", "OD_EVENT", {kSeq, kSerNum, kEventType},
         [](const Args &a) { return send_od_event_det(seq_of(a), text_of(a, 1), u8_of(a, 2)); },
         "a meter's event log of one event type"},
        {"event-verbose", "OD_EVENT_DETAIL", "OD_EVENT", {kSeq, kSerNum, kEventType},
         [](const Args &a) { return send_od_event_det11(seq_of(a), text_of(a, 1), u8_of(a, 2)); },
         "OD_EVENT again, each step reported"},
        {"event-dump", "OD_EVENT_DUMP", "", {kSeq, kSerNum, kEventType},
         [](const Args &a) { return send_od_event_det1(seq_of(a), text_of(a, 1), u8_of(a, 2)); },
         "the selected event columns printed, no answer"},
        {"content event", "GET_EVENT_FILE_CONTENT", "GET_EVENT_FILE_CONTENT", content_args,
         content_request<send_event_file_content>,
         "an event file's selected columns"},
        {"content bill", "GET_BILL_FILE_CONTENT", "GET_BILL_FILE_CONTENT", content_args,
         content_request<send_bill_file_content>,
         "a billing file's selected columns"},
        {"content dp", "GET_DP_FILE_CONTENT", "GET_BILL_FILE_CONTENT", content_args,
         content_request<send_dp_file_content>,
         "a daily-profile file's selected columns"},
        {"content ls", "GET_LS_FILE_CONTENT", "GET_LS_FILE_CONTENT", content_args,
         content_request<send_ls_file_content>,
         "a load-survey file's selected columns"},
        {"files ls", "GET_LS_FILE_LIST", "GET_LS_FILE_LIST", {kSeq, kSerNum},
         [](const Args &a) { return send_ls_file_list_det(seq_of(a), text_of(a, 1)); },
         "a meter's load-survey files"},
        {"files event", "GET_EVENT_FILE_LIST", "GET_EVENT_FILE_LIST", {kSeq, kSerNum},
         [](const Args &a) { return send_event_file_list_det(seq_of(a), text_of(a, 1)); }, "a meter's event files"},
        {"files dp", "GET_DP_FILE_LIST", "GET_DP_FILE_LIST", {kSeq, kSerNum},
         [](const Args &a) { return send_dp_file_list_det(seq_of(a), text_of(a, 1)); },
         "a meter's daily-profile files"},
        {"files bill", "GET_BILL_FILE_LIST", "GET_BILL_FILE_LIST", {kSeq, kSerNum},
         [](const Args &a) { return send_bill_file_list_det(seq_of(a), text_of(a, 1)); }, "a meter's billing files"},
        {"files od", "GET_OD_LS_FILE_LIST", "GET_OD_LS_FILE_LIST", {kSeq, kSerNum},
         [](const Args &a) { return send_od_ls_file_list_det(seq_of(a), text_of(a, 1)); },
         "a meter's on-demand load-survey files (from the store)"},
        {"dirs", "GET_DIR_LIST", "GET_DIR_LIST", {kSeq}, [](const Args &a) { return send_dir_list_det(seq_of(a)); },
         "the meter directories of the data tree"},
    };
    return table;
}

bool convert_arg(const ArgRule &arg_rule, std::string_view text, Arg *out, std::string *error) {
    out->text.assign(text);
    // The handlers take C strings: a NUL would end the value there.
    if (text.find('\0') != std::string_view::npos) {
        *error = std::string(arg_rule.member) + " holds a NUL character";
        return false;
    }
    auto integer = [&](long long low, long long high) {
        long long value = 0;
        auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (ec != std::errc{} || end != text.data() + text.size() || value < low || value > high) {
            *error = std::string(arg_rule.member) + " must be a whole number from " + std::to_string(low) + " to " +
                     std::to_string(high) + ", not \"" + echo_of(text) + "\"";
            return false;
        }
        out->number = value;
        return true;
    };
    switch (arg_rule.kind) {
    case ArgKind::seq_num: return integer(std::numeric_limits<int>::min(), std::numeric_limits<int>::max());
    case ArgKind::u8: return integer(0, 255);
    case ArgKind::u16: return integer(0, 65535);
    case ArgKind::text: return true;
    case ArgKind::time_stamp: {
        // YYYY-MM-DD HH:MM
        unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0;
        char tail = 0;
        const std::string copy(text);
        // %u would take a sign: a time starts with the year's digits.
        const bool starts_with_digit = !copy.empty() && copy[0] >= '0' && copy[0] <= '9';
        if (!starts_with_digit || std::sscanf(copy.c_str(), "%4u-%2u-%2u %2u:%2u%c", &year, &month, &day, &hour, &minute, &tail) != 5 ||
            month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59) {
            *error =
                std::string(arg_rule.member) + " must be a time as YYYY-MM-DD HH:MM, not \"" + echo_of(copy) + "\"";
            return false;
        }
        // 31 February or 29 February of a common year: the meter-reading
        // process would read from a time no clock shows.
        if (!civil::exists({static_cast<int>(year), static_cast<int>(month), static_cast<int>(day),
                            static_cast<int>(hour), static_cast<int>(minute)})) {
            *error = std::string(arg_rule.member) + " must be a time that exists, not \"" + echo_of(copy) + "\"";
            return false;
        }
        out->stamp = ls_time_stamp{};
        out->stamp.day = static_cast<uint8_t>(day);
        out->stamp.month = static_cast<uint8_t>(month);
        out->stamp.hour = static_cast<uint8_t>(hour);
        out->stamp.minute = static_cast<uint8_t>(minute);
        out->stamp.year = static_cast<uint16_t>(year);
        return true;
    }
    }
    return false;
}

std::optional<ParsedRequest> parse_words(std::span<const std::string> words, std::string *error) {
    if (words.empty()) {
        *error = "no request given";
        return std::nullopt;
    }
    const RequestRow *row = nullptr;
    std::size_t used = 0;
    for (const auto &candidate : request_table()) {
        const std::string_view word = candidate.word;
        const auto blank = word.find(' ');
        if (blank == std::string_view::npos) {
            if (words[0] == word) {
                row = &candidate;
                used = 1;
            }
        } else if (words.size() >= 2 && words[0] == word.substr(0, blank) && words[1] == word.substr(blank + 1)) {
            row = &candidate;
            used = 2;
        }
        if (row) break;
    }
    if (row == nullptr) {
        const std::string name = words[0] + (words.size() >= 2 ? " " + words[1] : "");
        // A NUL in the message would end it where it is printed.
        if (name.find('\0') != std::string::npos) *error = "a request word holds a NUL character";
        else *error = "unknown request \"" + echo_of(name) + "\"";
        return std::nullopt;
    }
    // A time stamp may come as one argument or as its date and its time.
    std::vector<std::string> values(words.begin() + static_cast<std::ptrdiff_t>(used), words.end());
    ParsedRequest parsed{row, {}};
    std::size_t next = 0;
    for (const auto &arg_rule : row->args) {
        if (next >= values.size()) {
            *error = std::string(row->word) + ": missing " + std::string(arg_rule.member);
            return std::nullopt;
        }
        std::string value = values[next++];
        if (arg_rule.kind == ArgKind::time_stamp && value.find(' ') == std::string::npos && next < values.size())
            value += " " + values[next++];
        Arg arg;
        if (!convert_arg(arg_rule, value, &arg, error)) return std::nullopt;
        parsed.args.push_back(std::move(arg));
    }
    if (next != values.size()) {
        *error = std::string(row->word) + ": too many arguments";
        return std::nullopt;
    }
    if (!check_args(*row, parsed.args, error)) return std::nullopt;
    return parsed;
}

bool check_args(const RequestRow &row, const Args &args, std::string *error) {
    // A range runs forward in time; START equal to END is a range of one instant.
    std::optional<civil::Minute> start, end;
    for (std::size_t i = 0; i < row.args.size() && i < args.size(); ++i) {
        if (row.args[i].kind != ArgKind::time_stamp) continue;
        const ls_time_stamp &t = args[i].stamp;
        const civil::Minute minute{t.year, t.month, t.day, t.hour, t.minute};
        if (row.args[i].member == "START") start = minute;
        if (row.args[i].member == "END") end = minute;
    }
    if (start && end && civil::is_after(*start, *end)) {
        *error = "START must not be after END";
        return false;
    }
    return true;
}

std::string usage_text() {
    std::string text =
        "usage: dcuhost [--store HOST:PORT] REQUEST ARGS...\n"
        "       dcuhost [--store HOST:PORT] --stdin     (one request per input line)\n"
        "       dcuhost [--store HOST:PORT] --mqtt [BROKER OPTIONS]\n"
        "Answers go to standard output, with --mqtt to the broker; the library's\n"
        "progress lines and the log to standard error.\n"
        "An input line or a broker message may be a machine request: one JSON object\n"
        "whose TYPE is the request's [TYPE] below, with SEQ_NUM and the arguments as\n"
        "members, e.g. {\"TYPE\":\"GET_METER_SER_LIST\",\"SEQ_NUM\":\"1\"}.\n"
        "--mqtt reads the broker settings from the store's MQTT_INFO; these replace them:\n"
        "  --broker HOST:PORT  --mqtt-user NAME  --mqtt-password-file FILE\n"
        "  --sub-topic TOPIC (CmdSubTopic)  --pub-topic TOPIC (PubTopic)  --mqtt-client-id ID\n"
        "and these have no MQTT_INFO field:\n"
        "  --cafile FILE  --capath DIR  --cert FILE  --key FILE  --key-password-file FILE\n"
        "  --tls-version tlsv1.2|tlsv1.3  --tls-server-name NAME  --mqtt-version 3.1.1|5\n"
        "  --keepalive SECONDS (60)  --status-topic TOPIC (PubTopic/status)\n"
        "  --config FILE: \"key = value\" lines, keys the options above without dashes;\n"
        "  the command line overrides the file. The password may also come from\n"
        "  DCU_MQTT_PASSWORD or $CREDENTIALS_DIRECTORY/mqtt-password.\n"
        "  --no-jitter (command line only): reconnect after exactly 1, 2, 4 ... 30 s\n"
        "  instead of at random, for comparisons\n"
        "Requests:\n";
    for (const auto &row : request_table()) {
        std::string line = "  " + std::string(row.word);
        for (const auto &arg : row.args) line += " " + std::string(arg.member);
        if (line.size() < 44) line.resize(44, ' ');
        else line += "  ";
        text += line + std::string(row.summary);
        if (!row.machine_type.empty()) text += " [" + std::string(row.machine_type) + "]";
        text += "\n";
    }
    return text;
}

}  // namespace dcu::host
