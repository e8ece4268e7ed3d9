#include "loader/cfgtool_codec.hpp"

#include <cjson/cJSON.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

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
    case ValueType::u16: return {0, 65535};
    case ValueType::s16: return {-32768, 32767};
    // Shown signed as published, but the record's unsigned form is accepted too.
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
    if (!cJSON_IsObject(root.get())) return "the top level must be an object of store keys";

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
