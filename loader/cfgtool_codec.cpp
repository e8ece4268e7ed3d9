#include "loader/cfgtool_codec.hpp"

#include <cjson/cJSON.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "common/hex_digit.hpp"

namespace dcu::cfgtool {
namespace {

using loader::kPublishTable;
using loader::PublishEntry;
using loader::ValueType;

struct JsonDelete {
    void operator()(cJSON *json) const noexcept { cJSON_Delete(json); }
};
using UniqueJson = std::unique_ptr<cJSON, JsonDelete>;

struct JsonTextFree {
    void operator()(char *text) const noexcept { cJSON_free(text); }
};
using UniqueJsonText = std::unique_ptr<char, JsonTextFree>;

std::string quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

struct Range {
    double low;
    double high;
};

Range range_of(ValueType type) {
    switch (type) {
    case ValueType::u8: return {0, 255};
    // A 16- or 32-bit field takes its signed and its unsigned form alike
    // (-1 and 65535 are the same bits): an author need not know which way
    // the loader shows it.
    case ValueType::u16:
    case ValueType::s16: return {-32768, 65535};
    case ValueType::u32: return {-2147483648.0, 4294967295.0};
    case ValueType::text: break;
    }
    return {0, 0};
}

void store_integer(Record &record, const PublishEntry &entry, double value) {
    std::uint8_t *at = record.data() + entry.offset;
    const auto whole = static_cast<std::int64_t>(value);
    // Two's complement: a negative value keeps its low bytes, as the record holds it.
    const auto bits = static_cast<std::uint64_t>(whole);
    for (std::size_t i = 0; i < entry.size; ++i) at[i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

// The entry of `key` / `field`, or nullptr.
const PublishEntry *find_entry(std::string_view key, std::string_view field) {
    for (const PublishEntry &entry : kPublishTable)
        if (entry.key.view() == key && entry.field.view() == field) return &entry;
    return nullptr;
}

// JSON's blanks, the only thing that may follow the object.
bool is_json_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// For each string of a JSON text that parsed, names and values alike, in
// the order they stand: whether it holds a NUL once decoded (the escape
// \u0000 or one whose digits are not all hexadecimal, or a raw zero byte). cJSON decodes such a string into a C text
// that ends at the NUL, so the tree alone can't tell.
std::vector<bool> strings_holding_nul(std::string_view json) {
    std::vector<bool> holds_nul;
    for (std::size_t i = 0; i < json.size(); ++i) {
        if (json[i] != '"') continue;
        bool nul = false;
        for (++i; i < json.size() && json[i] != '"'; ++i) {
            if (json[i] == '\0') nul = true;
            if (json[i] != '\\') continue;
            if (i + 1 < json.size() && json[i + 1] == 'u') {
                const std::string_view digits = json.substr(i + 2, 4);
                nul = nul || (digits.size() == 4 && json_escape_code(digits) == 0);
                i += 5;
            } else {
                ++i;  // the escaped character, a backslash or quote among them
            }
        }
        holds_nul.push_back(nul);
    }
    return holds_nul;
}

// What a refused string is in the input: a key's name, a field's name, or
// the value of a field (anything deeper counts as its field's value).
struct StringPlace {
    std::string key;
    std::string field;
    bool is_name;
};

void list_string_places(const cJSON *node, int depth, const StringPlace &around, std::vector<StringPlace> &places) {
    for (const cJSON *child = node->child; child != nullptr; child = child->next) {
        StringPlace inner = around;
        if (cJSON_IsObject(node)) {
            places.push_back({around.key, around.field, true});
            if (depth == 0) inner.key = child->string;
            if (depth == 1) inner.field = child->string;
        }
        if (cJSON_IsString(child)) places.push_back({inner.key, inner.field, false});
        if (cJSON_IsObject(child) || cJSON_IsArray(child)) list_string_places(child, depth + 1, inner, places);
    }
}

// Why the input is refused when one of its strings holds a NUL, or nothing.
std::string refuse_nul_strings(std::string_view json, const cJSON *root) {
    const std::vector<bool> holds_nul = strings_holding_nul(json);
    std::vector<StringPlace> places;
    list_string_places(root, 0, {}, places);
    for (std::size_t i = 0; i < holds_nul.size() && i < places.size(); ++i) {
        if (!holds_nul[i]) continue;
        const StringPlace &place = places[i];
        std::string where;
        if (!place.key.empty()) where = place.key + (place.field.empty() ? "" : " " + place.field) + ": ";
        const std::string what = !place.is_name       ? "text"
                                 : place.key.empty()   ? "a key name"
                                 : place.field.empty() ? "a field name"
                                                       : "a name";
        return where + what + " holds a NUL (\\u0000)";
    }
    return {};
}

bool is_known_key(std::string_view key) {
    for (const PublishEntry &entry : kPublishTable)
        if (entry.key.view() == key) return true;
    return false;
}

std::string set_value(Record &record, const PublishEntry &entry, const cJSON *value) {
    const std::string where = std::string(entry.key.view()) + " " + std::string(entry.field.view()) + ": ";
    if (entry.type == ValueType::text) {
        if (!cJSON_IsString(value) || value->valuestring == nullptr) return where + "expected a text";
        const std::size_t length = std::strlen(value->valuestring);
        if (length > entry.size)
            return where + "text of " + std::to_string(length) + " bytes does not fit its " +
                   std::to_string(entry.size) + "-byte slot";
        std::memcpy(record.data() + entry.offset, value->valuestring, length);
        return {};
    }
    if (!cJSON_IsNumber(value)) return where + "expected an integer";
    const double number = value->valuedouble;
    if (!std::isfinite(number) || std::trunc(number) != number) return where + "expected an integer";
    const Range range = range_of(entry.type);
    if (number < range.low || number > range.high) {
        char text[128];
        std::snprintf(text, sizeof text, "%.17g is out of range %.0f..%.0f", number, range.low, range.high);
        return where + text;
    }
    store_integer(record, entry, number);
    return {};
}

}  // namespace

std::string decode_to_json(loader::RecordBytes record) {
    UniqueJson root(cJSON_CreateObject());
    for (const PublishEntry &entry : kPublishTable) {
        const std::string key(entry.key.view());
        cJSON *fields = cJSON_GetObjectItemCaseSensitive(root.get(), key.c_str());
        if (fields == nullptr) fields = cJSON_AddObjectToObject(root.get(), key.c_str());
        const std::string field(entry.field.view());
        if (entry.type == ValueType::text) {
            cJSON_AddStringToObject(fields, field.c_str(), std::string(loader::text_value(record, entry)).c_str());
        } else {
            cJSON_AddNumberToObject(fields, field.c_str(), loader::integer_value(record, entry));
        }
    }
    UniqueJsonText text(cJSON_Print(root.get()));
    return text ? std::string(text.get()) + "\n" : std::string();
}

std::string encode_from_json(std::string_view json, Record &record) {
    record.fill(0);
    const char *parse_end = nullptr;
    UniqueJson root(cJSON_ParseWithLengthOpts(json.data(), json.size(), &parse_end, false));
    if (!root) {
        const std::size_t at = parse_end != nullptr ? static_cast<std::size_t>(parse_end - json.data()) : 0;
        return "not valid JSON (near byte " + std::to_string(at) + ")";
    }
    const std::size_t end = static_cast<std::size_t>(parse_end - json.data());
    for (std::size_t at = end; at < json.size(); ++at)
        if (!is_json_blank(json[at])) return "text after the JSON object (at byte " + std::to_string(at) + ")";
    if (!cJSON_IsObject(root.get())) return "the top level must be an object of store keys";
    if (std::string error = refuse_nul_strings(json.substr(0, end), root.get()); !error.empty()) return error;

    for (const cJSON *key = root->child; key != nullptr; key = key->next) {
        const std::string_view key_name(key->string);
        if (!is_known_key(key_name)) return "unknown key " + quoted(key_name);
        for (const cJSON *other = root->child; other != key; other = other->next)
            if (key_name == other->string) return "key " + quoted(key_name) + " given twice";
        if (!cJSON_IsObject(key)) return std::string(key_name) + ": expected an object of fields";

        for (const cJSON *field = key->child; field != nullptr; field = field->next) {
            const std::string_view field_name(field->string);
            const PublishEntry *entry = find_entry(key_name, field_name);
            if (entry == nullptr) return std::string(key_name) + ": unknown field " + quoted(field_name);
            for (const cJSON *other = key->child; other != field; other = other->next)
                if (field_name == other->string)
                    return std::string(key_name) + " " + std::string(field_name) + ": given twice";
            if (std::string error = set_value(record, *entry, field); !error.empty()) return error;
        }
    }
    loader::seal_record(record);
    return {};
}

CheckReport check_record(loader::RecordBytes record, std::size_t file_size) {
    using loader::FrameCheck;
    const loader::FrameVerdict verdict = loader::check_frame(record);
    char line[256];
    switch (verdict.failed) {
    case FrameCheck::ok:
        std::snprintf(line, sizeof line, "valid: start flag, end flag and CRC 0x%04X match", unsigned{verdict.computed_crc});
        break;
    case FrameCheck::start_flag:
        std::snprintf(line, sizeof line, "start flag wrong at offset %zu: found 0x%08X, expected 0x%08X",
                      loader::kStartFlagOffset, verdict.start_flag, loader::kFlag);
        break;
    case FrameCheck::end_flag:
        std::snprintf(line, sizeof line, "end flag wrong at offset %zu: found 0x%08X, expected 0x%08X",
                      loader::kEndFlagOffset, verdict.end_flag, loader::kFlag);
        break;
    case FrameCheck::crc:
        std::snprintf(line, sizeof line,
                      "CRC wrong at offset %zu: found bytes %02X %02X, expected %02X %02X "
                      "(CRC 0x%04X of bytes 0 to %zu, high byte first)",
                      loader::kCrcOffset, unsigned{verdict.stored_crc} >> 8, verdict.stored_crc & 0xFFU,
                      unsigned{verdict.computed_crc} >> 8, verdict.computed_crc & 0xFFU, unsigned{verdict.computed_crc},
                      loader::kCrcSpan - 1);
        break;
    }
    std::string text(line);
    if (file_size < loader::kRecordSize) {
        text += " (the file holds " + std::to_string(file_size) + " of " + std::to_string(loader::kRecordSize) +
                " bytes; the rest reads as zero)";
    } else if (file_size > loader::kRecordSize) {
        text += " (bytes past " + std::to_string(loader::kRecordSize) + " are ignored)";
    }
    return {verdict.failed == FrameCheck::ok, text};
}

}  // namespace dcu::cfgtool
