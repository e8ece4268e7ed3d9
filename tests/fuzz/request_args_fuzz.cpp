// Any request arguments into every entry point of the library, in-process,
// against a programmable stand-in of the store and a small scratch unit.
//
// The input decides what the store holds (serial numbers, readings, status
// values, file names, modem and configuration fields; keys of the wrong
// type, odd replies, a connection that drops), the host's configuration
// record, and a few requests: which entry point, its sequence number, serial
// number, directory and file names, view type, month, year, event type and
// time stamps; or request words through the host's parser.
//
// Checked for every call: an answering handler sends exactly one answer and
// the others none; the answer is sound (tests/support/answer_checks.hpp:
// strict JSON, every count equal to the list it counts) and lies inside
// json_text, with the handler's TYPE and the sequence number echoed; a serial number that no meter has gets "FAILURE" and no
// command; a content request never lists a file outside the data tree (the
// tree's parents hold files of the same names whose columns every selection
// names, so reaching one would list them).
#include <cjson/cJSON.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <signal.h>
#include <stdlib.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/store.hpp"
#include "dcu/reqhandlers.h"
#include "host/requests.hpp"
#include "reqhandlers/json_escape.hpp"
#include "reqhandlers/meter_lookup.hpp"
#include "tests/fuzz/fuzz_host.hpp"
#include "tests/fuzz/recording_store.hpp"
#include "tests/support/answer_checks.hpp"

namespace fs = std::filesystem;

namespace {

[[noreturn]] void fail(const std::string &what, std::string_view text = {}) {
    std::fprintf(stderr, "request_args_fuzz: %s\n%.*s\n", what.c_str(), static_cast<int>(text.size()), text.data());
    std::abort();
}

// ---- the scratch unit ------------------------------------------------------

// Columns every selection section names; the files outside the data tree
// hold the marked ones.
constexpr std::string_view kOutsideColumn = "OUTSIDE-COLUMN";
constexpr std::string_view kOutsideName = "OUTSIDE-NAME";
constexpr const char *kFileNames[] = {"billing", "dp_03_2024", "event_1", "2024_01_15"};

void write(const fs::path &path, std::string_view content) {
    fs::create_directories(path.parent_path());
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) fail("cannot write the scratch unit: " + path.string());
    std::fwrite(content.data(), 1, content.size(), file);
    std::fclose(file);
}

std::string section(const char *name) {
    return std::string("\"") + name +
           "\":{\"NumParams\":\"3\",\"ObisCodeList\":[{\"obis\":\"code-2\",\"assign\":\"Name 2\"},"
           "{\"obis\":\"code-1\",\"assign\":\"Name \\\"1\\\"\"},{\"obis\":\"" +
           std::string(kOutsideColumn) + "\",\"assign\":\"" + std::string(kOutsideName) + "\"}]}";
}

// DCU_ROOT of the run: a data tree of three meters and the selection files.
const fs::path &make_unit() {
    static const fs::path root = [] {
        char pattern[] = "/tmp/dcu-request-args-fuzz-XXXXXX";
        if (::mkdtemp(pattern) == nullptr) fail("mkdtemp failed");
        const fs::path unit(pattern);
        const fs::path data = unit / "usr/tev/data/DlmsData";
        const std::string profile = "code-1\tcode-2\tcode-3\r\na1\ta2\ta3\r\nb1\t\"b2\"\tb3\r\n";
        for (const char *meter : {"meter_id_0", "meter_id_3", "meter_id_19"})
            for (const char *name : kFileNames) write(data / meter / name, profile);
        fs::create_directories(data / "meter_id_0/od");
        write(data / "not_a_meter", "x\n");
        // Files of the same names on every level above the data tree.
        const std::string outside = std::string(kOutsideColumn) + "\tcode-1\nOUTSIDE-VALUE\toutside-a1\n";
        for (const fs::path &above : {unit / "usr/tev/data", unit / "usr/tev", unit / "usr", unit})
            for (const char *name : kFileNames) write(above / name, outside);
        const std::string event_file = section("EventParams") + "," + section("BillParams") + "," + section("MNParams");
        write(unit / "srv/www/htdocs/user_event_obis_det.json", event_file);
        write(unit / "srv/www/htdocs/user_bill_obis_det.json", section("BillParams"));
        write(unit / "srv/www/htdocs/user_dp_obis_det.json", section("MNParams"));
        write(unit / "srv/www/htdocs/user_ls_obis_det.json", section("LSParams"));
        write(unit / "srv/www/htdocs/user_inst_obis_det.json", section("InstParams"));
        ::setenv("DCU_ROOT", unit.c_str(), 1);
        return unit;
    }();
    return root;
}

void remove_unit() {
    std::error_code ignored;
    fs::remove_all(make_unit(), ignored);
}

// ---- the stand-in's contents -----------------------------------------------

enum class KeyMode { hash, wrong_type, integer, status, nested, cut };

struct Key {
    KeyMode mode = KeyMode::hash;
    std::vector<std::pair<std::string, std::string>> fields;  // in the order first set
    void set(const std::string &field, std::string value) {
        for (auto &[name, old] : fields) {
            if (name != field) continue;
            old = std::move(value);
            return;
        }
        fields.emplace_back(field, std::move(value));
    }
    const std::string *get(const std::string &field) const {
        for (const auto &[name, value] : fields)
            if (name == field) return &value;
        return nullptr;
    }
};

struct Model {
    std::map<std::string, Key> keys;
    bool has_cut = false;  // some key drops the connection when read
};

std::string bulk(std::string_view text) { return "$" + std::to_string(text.size()) + "\r\n" + std::string(text) + "\r\n"; }

std::string lower(std::string text) {
    for (char &c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
    return text;
}

std::optional<std::string> respond(const Model &model, const std::vector<std::string> &args) {
    if (args.empty()) return "-ERR empty command\r\n";
    const std::string command = lower(args[0]);
    if (command == "hmset" || command == "hset") return "+OK\r\n";
    if ((command != "hmget" && command != "hgetall") || args.size() < 2) return "-ERR unknown command\r\n";
    const auto found = model.keys.find(args[1]);
    if (found == model.keys.end()) {
        if (command == "hgetall") return "*0\r\n";
        std::string reply = "*" + std::to_string(args.size() - 2) + "\r\n";
        for (std::size_t i = 2; i < args.size(); ++i) reply += "$-1\r\n";
        return reply;
    }
    const Key &key = found->second;
    switch (key.mode) {
    case KeyMode::wrong_type: return "-WRONGTYPE Operation against a key holding the wrong kind of value\r\n";
    case KeyMode::integer: return ":7\r\n";
    case KeyMode::status: return "+OK\r\n";
    case KeyMode::nested: return "*2\r\n*1\r\n$1\r\nx\r\n:3\r\n";
    case KeyMode::cut: return std::nullopt;
    case KeyMode::hash: break;
    }
    std::string reply;
    if (command == "hgetall") {
        reply = "*" + std::to_string(key.fields.size() * 2) + "\r\n";
        for (const auto &[name, value] : key.fields) reply += bulk(name) + bulk(value);
        return reply;
    }
    reply = "*" + std::to_string(args.size() - 2) + "\r\n";
    for (std::size_t i = 2; i < args.size(); ++i) {
        const std::string *value = key.get(args[i]);
        reply += value ? bulk(*value) : "$-1\r\n";
    }
    return reply;
}

std::string value_text(FuzzedDataProvider &in) {
    // Now and then a value far larger than any answer.
    if (in.ConsumeIntegral<std::uint8_t>() == 0xFF)
        return std::string(in.ConsumeIntegralInRange<std::size_t>(1, 300000), in.ConsumeIntegral<char>());
    return in.ConsumeRandomLengthString(48);
}

// "<before><port>Met<meter><after>", the shape of the per-meter keys.
std::string position_key(std::string_view before, int port, int meter, std::string_view after) {
    return std::string(before) + std::to_string(port) + "Met" + std::to_string(meter) + std::string(after);
}

void fill_model(FuzzedDataProvider &in, Model &model) {
    static const char *const kModemFields[] = {"Status", "SignalStrength", "NwType", "RegStatus", "Operator", "IMEI"};
    const int count = in.ConsumeIntegralInRange(0, 24);
    for (int i = 0; i < count && in.remaining_bytes() > 0; ++i) {
        const int port = in.ConsumeIntegralInRange(0, 3), meter = in.ConsumeIntegralInRange(0, 9);
        std::string name;
        std::vector<std::string> fields;
        switch (in.ConsumeIntegralInRange(0, 8)) {
        case 0:
            name = position_key("Port", port, meter % 5, "SerNum");
            fields = {"SER_NUM"};
            break;
        case 1:
            name = position_key("Port", port, meter % 5, "inst_info");
            fields = {"NUM_PARAM"};
            for (int k = 1; k <= 4; ++k) {
                fields.push_back("Obis_" + std::to_string(k));
                fields.push_back("Value_" + std::to_string(k));
            }
            break;
        case 2:
            name = position_key("SerPort", port, meter % 5, "Status");
            fields = {"VALUE"};
            break;
        case 3:
            name = position_key("Port", port, meter % 5, "OdLsFile");
            fields = {"f1", "f2"};
            break;
        case 4:
            name = "MODEM_DIAG_INFO";
            fields.assign(std::begin(kModemFields), std::end(kModemFields));
            break;
        case 5:
            name = "DCU_GEN_INFO";
            fields = {"MeterType"};
            break;
        case 6:
            name = "P_" + std::to_string(port) + "SER_MET_INFO";
            fields = {"NumMeters"};
            break;
        case 7:
            name = "ETH_MET_INFO";
            fields = {"NumMeters"};
            break;
        default:
            name = position_key("EthPort", 0, meter, "Status");
            fields = {"VALUE"};
            break;
        }
        Key &key = model.keys[name];
        const int mode = in.ConsumeIntegralInRange(0, 15);
        key.mode = mode <= 10 ? KeyMode::hash : static_cast<KeyMode>(mode - 10);
        model.has_cut = model.has_cut || key.mode == KeyMode::cut;
        const int field_count = in.ConsumeIntegralInRange(0, 8);
        for (int f = 0; f < field_count && in.remaining_bytes() > 0; ++f) {
            const std::size_t pick = in.ConsumeIntegralInRange<std::size_t>(0, fields.size());
            const std::string field = pick < fields.size() ? fields[pick] : in.ConsumeRandomLengthString(12);
            key.set(field, value_text(in));
        }
    }
}

// ---- what the store says about meters ----------------------------------------

std::optional<std::string> stored_serial(const Model &model, int port, int meter) {
    const auto found = model.keys.find(position_key("Port", port, meter, "SerNum"));
    if (found == model.keys.end() || found->second.mode != KeyMode::hash) return std::nullopt;
    const std::string *text = found->second.get("SER_NUM");
    return text ? std::optional<std::string>(*text) : std::nullopt;
}

// The meter find_ser_num must name: the first position, port by port, whose
// stored serial number contains the text. Unknown while the connection may drop.
struct Expected {
    bool known = false;
    std::optional<dcu::meters::Position> meter;
};

Expected expected_meter(const Model &model, const char *ser_num) {
    if (model.has_cut) return {};
    if (*ser_num == '\0') return {true, std::nullopt};  // the empty text names no meter
    // A whole serial number first, then a part of one, each in port and meter order.
    for (const bool whole : {true, false})
        for (int port = 0; port < 4; ++port)
            for (int meter = 0; meter < 5; ++meter) {
                const auto serial = stored_serial(model, port, meter);
                if (!serial || serial->empty()) continue;
                if (whole ? *serial == ser_num : serial->find(ser_num) != std::string::npos)
                    return {true, dcu::meters::Position{port, meter}};
            }
    return {true, std::nullopt};
}

// A serial-number argument: any text, or one the store holds, or part of one.
std::string ser_num_text(FuzzedDataProvider &in, const Model &model) {
    const int how = in.ConsumeIntegralInRange(0, 3);
    if (how == 0) return in.ConsumeRandomLengthString(40);
    const int port = in.ConsumeIntegralInRange(0, 3), meter = in.ConsumeIntegralInRange(0, 4);
    const std::string serial = stored_serial(model, port, meter).value_or("");
    if (how == 1) return serial;
    const std::size_t from = in.ConsumeIntegralInRange<std::size_t>(0, serial.size());
    return serial.substr(from, in.ConsumeIntegralInRange<std::size_t>(0, serial.size() - from));
}

// A directory or file name: any text, or pieces that name parts of the tree
// and of what lies around it.
std::string path_text(FuzzedDataProvider &in) {
    static const char *const kPieces[] = {"meter_id_0", "meter_id_3", "meter_id_19", "meter_id_1530", "..", ".",
                                          "", "/", "od", "billing", "event_1", "dp_03_2024", "2024_01_15",
                                          "not_a_meter", "../..", "meter_id_0/..", "//"};
    std::string text;
    const int pieces = in.ConsumeIntegralInRange(0, 4);
    for (int i = 0; i < pieces; ++i) {
        const std::size_t pick = in.ConsumeIntegralInRange<std::size_t>(0, std::size(kPieces));
        if (i > 0) text += in.ConsumeBool() ? "/" : "";
        text += pick < std::size(kPieces) ? std::string(kPieces[pick]) : in.ConsumeRandomLengthString(16);
    }
    return text;
}

// A name that a content request may open: relative, no ".." component, not empty.
bool stays_in_tree(std::string_view name) {
    if (name.empty() || name.front() == '/') return false;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= name.size(); ++i) {
        if (i < name.size() && name[i] != '/') continue;
        if (name.substr(start, i - start) == "..") return false;
        start = i + 1;
    }
    return true;
}

ls_time_stamp stamp(FuzzedDataProvider &in) {
    ls_time_stamp value{};
    const auto bytes = in.ConsumeBytes<std::uint8_t>(sizeof value);
    if (!bytes.empty()) std::memcpy(&value, bytes.data(), bytes.size());
    return value;
}

// ---- checking an answer --------------------------------------------------------

struct JsonDelete {
    void operator()(cJSON *tree) const { cJSON_Delete(tree); }
};
using Json = std::unique_ptr<cJSON, JsonDelete>;

std::string text_member(const cJSON *object, const char *key) {
    const cJSON *member = cJSON_GetObjectItemCaseSensitive(object, key);
    return cJSON_IsString(member) ? member->valuestring : "<missing>";
}

int array_size(const cJSON *object, const char *key, const std::string &text) {
    const cJSON *list = cJSON_GetObjectItemCaseSensitive(object, key);
    if (!cJSON_IsArray(list)) fail(std::string("no list ") + key, text);
    return cJSON_GetArraySize(list);
}

// No display name in the answer comes from a file outside the data tree.
void check_inside_tree(const cJSON *data, const std::string &text) {
    const cJSON *names = cJSON_GetObjectItemCaseSensitive(data, "PARAM_LIST");
    if (!cJSON_IsArray(names)) return;
    for (const cJSON *name = names->child; name; name = name->next)
        if (cJSON_IsString(name) && std::string_view(name->valuestring) == kOutsideName)
            fail("a file outside the data tree was listed", text);
}

// The one answer a call sent: strict JSON inside json_text, its TYPE, the
// sequence number; returns its DATA member's tree.
Json check_answer(std::string_view type, int seq_num, std::size_t sent_before) {
    const auto &sent = dcu::fuzz::sent_answers();
    if (sent.size() != sent_before + 1)
        fail("answers sent: " + std::to_string(sent.size() - sent_before) + " for " + std::string(type));
    const std::string &text = sent.back();
    if (text.size() >= sizeof json_text || text != json_text) fail("answer not the text of json_text", text);
    if (const std::string problem = dcu::test::answer_problem(text); !problem.empty()) fail(problem, text);
    Json tree(cJSON_ParseWithLength(text.data(), text.size()));
    if (text_member(tree.get(), "TYPE") != type) fail("wrong TYPE", text);
    if (text_member(tree.get(), "SEQ_NUM") != std::to_string(seq_num)) fail("wrong SEQ_NUM", text);
    check_inside_tree(cJSON_GetObjectItemCaseSensitive(tree.get(), "DATA"), text);
    return tree;
}

// A request's text as the answer's JSON gives it back: bytes that are not
// UTF-8 come back as the characters of their \u00XX escapes.
std::string as_echoed(const std::string &text) {
    const std::string quoted = "\"" + dcu::answer::escaped(text) + "\"";
    Json value(cJSON_ParseWithLength(quoted.data(), quoted.size()));
    if (!cJSON_IsString(value.get())) fail("an escaped text that does not parse", quoted);
    return value->valuestring;
}

bool failed(const Json &answer) { return text_member(answer.get(), "CMD_STATUS") == "FAILURE"; }
const cJSON *data_of(const Json &answer) { return cJSON_GetObjectItemCaseSensitive(answer.get(), "DATA"); }

// An answer for a serial number that no meter has: FAILURE and empty lists.
void check_unknown_meter(const Json &answer, const std::string &ser_num) {
    const cJSON *data = data_of(answer);
    if (!failed(answer)) fail("unknown meter answered SUCCESS");
    for (const char *key : {"NUM_PARAM", "NUM_ENTRIES", "NUM_FILES"})
        if (cJSON_GetObjectItemCaseSensitive(data, key) && text_member(data, key) != "0")
            fail("unknown meter answered with data");
    if (cJSON_GetObjectItemCaseSensitive(data, "MET_SERNUM") && text_member(data, "MET_SERNUM") != as_echoed(ser_num))
        fail("MET_SERNUM not echoed");
}

// ---- the calls ------------------------------------------------------------------

std::unique_ptr<dcu::fuzz::RecordingStore> &store_instance() {
    static std::unique_ptr<dcu::fuzz::RecordingStore> instance;
    return instance;
}

dcu::fuzz::RecordingStore &store() { return *store_instance(); }

// A store whose connection was cut is started afresh before the next input,
// as a host would call redis_init again.
void connect_store() {
    auto &instance = store_instance();
    if (instance && instance->connected()) return;
    instance.reset();
    // The library's connection, the one in the host's p_redis_handler.
    instance = std::make_unique<dcu::fuzz::RecordingStore>(dcu::store::bound_connection());
}

struct Request {
    int entry;
    int seq_num;
    std::string ser_num, dir_name, file_name, view_type;
    std::uint8_t month, event_type;
    std::uint16_t year;
    ls_time_stamp start, end;
};

void call_meter_handler(const Request &r, const Model &model) {
    static constexpr std::string_view kTypes[] = {"OD_BILLING", "OD_MID_NIGHT", "OD_EVENT", "OD_EVENT"};
    const auto before = dcu::fuzz::sent_answers().size();
    const char *ser = r.ser_num.c_str();
    switch (r.entry) {
    case 0: send_od_billing_det(r.seq_num, ser); break;
    case 1: send_od_midnight_det(r.seq_num, ser, r.month, r.year); break;
    case 2: send_od_event_det(r.seq_num, ser, r.event_type); break;
    default: send_od_event_det11(r.seq_num, ser, r.event_type); break;
    }
    const Json answer = check_answer(kTypes[r.entry], r.seq_num, before);
    if (const Expected expected = expected_meter(model, ser); expected.known && !expected.meter)
        check_unknown_meter(answer, r.ser_num);
}

void call_list_handler(const Request &r, const Model &model) {
    using Handler = int (*)(int, const char *);
    static constexpr std::pair<Handler, std::string_view> kLists[] = {
        {send_ls_file_list_det, "GET_LS_FILE_LIST"},       {send_event_file_list_det, "GET_EVENT_FILE_LIST"},
        {send_dp_file_list_det, "GET_DP_FILE_LIST"},       {send_bill_file_list_det, "GET_BILL_FILE_LIST"},
        {send_od_ls_file_list_det, "GET_OD_LS_FILE_LIST"}, {nullptr, "OD_INST"}};
    const auto &[handler, type] = kLists[r.entry - 12];
    const auto before = dcu::fuzz::sent_answers().size();
    if (handler) handler(r.seq_num, r.ser_num.c_str());
    else send_od_inst_det(r.seq_num, r.ser_num.c_str());
    const Json answer = check_answer(type, r.seq_num, before);
    const Expected expected = expected_meter(model, r.ser_num.c_str());
    if (!expected.known) return;
    if (!expected.meter) return check_unknown_meter(answer, r.ser_num);
    if (handler && text_member(data_of(answer), "DIR_NAME") != "meter_id_" + std::to_string(expected.meter->number()))
        fail("listing of another meter's directory");
}

void call_content_handler(const Request &r) {
    using Handler = int (*)(int, const char *, const char *, const char *, const char *);
    static constexpr std::pair<Handler, std::string_view> kContents[] = {
        {send_event_file_content, "GET_EVENT_FILE_CONTENT"},
        {send_bill_file_content, "GET_BILL_FILE_CONTENT"},
        {send_dp_file_content, "GET_BILL_FILE_CONTENT"},
        {send_ls_file_content, "GET_LS_FILE_CONTENT"}};
    const auto &[handler, type] = kContents[r.entry - 8];
    const auto before = dcu::fuzz::sent_answers().size();
    handler(r.seq_num, r.ser_num.c_str(), r.dir_name.c_str(), r.file_name.c_str(), r.view_type.c_str());
    const Json answer = check_answer(type, r.seq_num, before);
    const cJSON *data = data_of(answer);
    // An echo too long for json_text is left out of an answer that says FAILURE.
    for (const auto &[key, value] : {std::pair{"DIR_NAME", &r.dir_name}, std::pair{"FILE_NAME", &r.file_name},
                                     std::pair{"VIEW_TYPE", &r.view_type}, std::pair{"MET_SERNUM", &r.ser_num}})
        if (!(failed(answer) && !cJSON_GetObjectItemCaseSensitive(data, key)) && text_member(data, key) != as_echoed(*value))
            fail(std::string(key) + " not echoed: " + as_echoed(*value), dcu::fuzz::sent_answers().back());
    if ((!stays_in_tree(r.dir_name) || !stays_in_tree(r.file_name)) &&
        (!failed(answer) || text_member(data, "NUM_ENTRIES") != "0"))
        fail("a name leaving the data tree was not refused");
}

void call(const Request &r, const Model &model) {
    auto &sent = dcu::fuzz::sent_answers();
    const auto before = sent.size();
    switch (r.entry) {
    case 0: case 1: case 2: case 3: return call_meter_handler(r, model);
    case 4: {
        const std::string kept(json_text);
        send_od_event_det1(r.seq_num, r.ser_num.c_str(), r.event_type);
        if (sent.size() != before || kept != json_text) fail("the event dump touched the answer");
        return;
    }
    case 5: {
        store().take();
        send_od_ls_range_det(r.seq_num, r.ser_num.c_str(), r.start, r.end);
        if (sent.size() != before) fail("the range command answered");
        const Expected expected = expected_meter(model, r.ser_num.c_str());
        for (const auto &command : store().take()) {
            if (lower(command[0]) != "hmset") continue;
            if (!expected.known) continue;
            if (!expected.meter) fail("range command for a meter nobody has: " + command[1]);
            if (command[1] != position_key("Port", expected.meter->port, expected.meter->meter, "OdLsCmd"))
                fail("range command for another meter: " + command[1]);
        }
        return;
    }
    case 6: {
        send_met_ser_num_det(r.seq_num);
        check_answer("GET_METER_SER_LIST", r.seq_num, before);
        return;
    }
    case 7: {
        send_dir_list_det(r.seq_num);
        check_answer("GET_DIR_LIST", r.seq_num, before);
        return;
    }
    case 8: case 9: case 10: case 11: return call_content_handler(r);
    case 12: case 13: case 14: case 15: case 16: case 17: return call_list_handler(r, model);
    case 18: {
        send_modem_status_det(r.seq_num);
        check_answer("GET_MODEM_DIAG_MESSAGE", r.seq_num, before);
        return;
    }
    case 19: {
        send_commn_status_det(r.seq_num);
        const Json answer = check_answer("GET_COMMN_STATUS_MESSAGE", r.seq_num, before);
        // Ruling: the status loops never go past the record's meter slots.
        for (const cJSON *port = data_of(answer)->child; port; port = port->next) {
            if (!cJSON_IsObject(port)) continue;
            const int slots = std::string_view(port->string) == "ETH_PORT" ? 10 : 5;
            const int meters = std::atoi(text_member(port, "NUM_METERS").c_str());
            if (meters < 0 || meters > slots || array_size(port, "STATUS", "") > meters)
                fail("status list beyond the meter slots");
        }
        return;
    }
    case 20: {
        const std::int16_t packed = find_ser_num(r.ser_num.c_str());
        const Expected expected = expected_meter(model, r.ser_num.c_str());
        const std::int16_t wanted = expected.meter ? expected.meter->packed() : -1;
        if (expected.known && packed != wanted) fail("find_ser_num named " + std::to_string(packed));
        return;
    }
    case 21: get_port_met_det(r.dir_name.c_str()); return;
    default: {
        // The host appends a selection file to a text of its own.
        const std::string kept(json_text);
        const std::string name = fs::path(r.file_name).filename().string();  // one of the web root's files
        const std::string path = (make_unit() / "srv/www/htdocs" / name).string();
        fill_user_obis_det(path.c_str(), r.view_type.c_str());
        if (::strnlen(json_text, sizeof json_text) == sizeof json_text ||
            std::string_view(json_text).substr(0, kept.size()) != kept)
            fail("fill_user_obis_det broke the host's text");
        return;
    }
    }
}

// Request words, as the host's parser takes them, and the handler they name.
void call_words(FuzzedDataProvider &in) {
    const auto &table = dcu::host::request_table();
    std::vector<std::string> words;
    const int count = in.ConsumeIntegralInRange(1, 7);
    for (int i = 0; i < count; ++i) {
        const std::size_t pick = in.ConsumeIntegralInRange<std::size_t>(0, table.size());
        if (pick == table.size()) {
            words.push_back(in.ConsumeRandomLengthString(24));
            continue;
        }
        const std::string_view word = table[pick].word;
        const std::size_t blank = word.find(' ');
        words.emplace_back(word.substr(0, blank));
        if (blank != std::string_view::npos) words.emplace_back(word.substr(blank + 1));
    }
    std::string error;
    const auto parsed = dcu::host::parse_words(words, &error);
    if (!parsed) {
        if (error.empty()) fail("a request refused without a reason");
        return;
    }
    if (parsed->row->word == "selection") return;  // the host's own: any path of the unit
    const auto before = dcu::fuzz::sent_answers().size();
    parsed->row->call(parsed->args);
    if (parsed->row->answer_type.empty()) {
        if (dcu::fuzz::sent_answers().size() != before) fail("an answer from a request that answers nothing");
        return;
    }
    check_answer(parsed->row->answer_type, static_cast<int>(parsed->args[0].number), before);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    // A store that drops the connection must not end the process.
    ::signal(SIGPIPE, SIG_IGN);
    make_unit();
    std::atexit(remove_unit);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    Model model;
    fill_model(in, model);
    std::memset(&dlms_dcu_config, 0, sizeof dlms_dcu_config);
    dlms_dcu_config.GenInfo.MeterType = in.ConsumeIntegral<std::uint8_t>();
    for (auto &port : dlms_dcu_config.SerMeterPort) port.NumMeters = in.ConsumeIntegral<std::uint32_t>();
    dlms_dcu_config.EthMeterInfo.NumMeters = in.ConsumeIntegral<std::uint32_t>();

    connect_store();
    store().take();  // the commands of earlier inputs are of no interest
    store().respond_with([&model](const std::vector<std::string> &args) { return respond(model, args); });
    dcu::meters::forget_known_serial_numbers();
    dcu::fuzz::sent_answers().clear();

    static std::FILE *null_out = std::fopen("/dev/null", "w");
    std::FILE *saved = stdout;
    stdout = null_out;
    const int requests = in.ConsumeIntegralInRange(1, 3);
    for (int i = 0; i < requests && in.remaining_bytes() > 0; ++i) {
        if (in.ConsumeIntegralInRange(0, 7) == 0) {
            call_words(in);
            continue;
        }
        Request r{};
        r.entry = in.ConsumeIntegralInRange(0, 22);
        r.seq_num = in.ConsumeIntegral<int>();
        r.ser_num = ser_num_text(in, model);
        r.dir_name = path_text(in);
        r.file_name = path_text(in);
        r.view_type = in.ConsumeRandomLengthString(24);
        r.month = in.ConsumeIntegral<std::uint8_t>();
        r.event_type = in.ConsumeIntegral<std::uint8_t>();
        r.year = in.ConsumeIntegral<std::uint16_t>();
        r.start = stamp(in);
        r.end = stamp(in);
        // The handlers take C texts: an argument ends at its first NUL.
        for (std::string *text : {&r.ser_num, &r.dir_name, &r.file_name, &r.view_type})
            text->resize(std::strlen(text->c_str()));
        call(r, model);
    }
    stdout = saved;
    // The responder refers to this input's model: nothing may use it later.
    store().respond_with(nullptr);
    return 0;
}
