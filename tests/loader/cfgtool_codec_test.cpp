// cfgtool's record <-> JSON codec and its check report, in-process.
#include <gtest/gtest.h>

#include <cjson/cJSON.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>

#include "loader/cfgtool_codec.hpp"
#include "tests/loader/fixtures.hpp"

namespace {

namespace fx = dcu::test::loader;
using dcu::cfgtool::check_record;
using dcu::cfgtool::decode_to_json;
using dcu::cfgtool::encode_from_json;

struct JsonDelete {
    void operator()(cJSON *json) const { cJSON_Delete(json); }
};

dcu::cfgtool::Record as_tool_record(const fx::Record &record) {
    dcu::cfgtool::Record out;
    std::memcpy(out.data(), record.data(), out.size());
    return out;
}

// A valid record as an author would make one: random values, texts of random
// bytes and length (zero after their first NUL, possibly filling the slot),
// reserved bytes zero.
fx::Record random_canonical_record(std::mt19937 &random) {
    fx::Record record{};
    for (const fx::Field &f : fx::published_fields()) {
        if (f.kind == fx::Kind::text) {
            std::string text(random() % (f.size + 1), '\0');
            for (char &c : text) c = static_cast<char>(1 + random() % 255);
            fx::put_text(record, f, text);
        } else {
            fx::put_int(record, f, static_cast<std::uint32_t>(random()));
        }
    }
    fx::seal(record);
    return record;
}

TEST(CfgtoolCodec, DecodeShowsEveryFieldAsTheLoaderPublishesIt) {
    const fx::Record record = fx::distinct_record();
    const std::string json = decode_to_json(as_tool_record(record));
    std::unique_ptr<cJSON, JsonDelete> root(cJSON_Parse(json.c_str()));
    ASSERT_TRUE(root) << json.substr(0, 200);

    // Keys in the order of their first command, fields in command order.
    std::vector<std::string> keys;
    std::size_t fields = 0;
    for (const fx::Field &f : fx::published_fields()) {
        if (std::find(keys.begin(), keys.end(), f.key) == keys.end()) keys.push_back(f.key);
        const cJSON *value = cJSON_GetObjectItemCaseSensitive(cJSON_GetObjectItemCaseSensitive(root.get(), f.key.c_str()),
                                                              f.field.c_str());
        ASSERT_NE(value, nullptr) << f.key << " " << f.field;
        const std::string shown = f.kind == fx::Kind::text ? std::string(cJSON_GetStringValue(value))
                                                           : std::to_string(static_cast<long long>(value->valuedouble));
        EXPECT_EQ(shown, fx::published_value(record, f)) << f.key << " " << f.field;
    }
    std::vector<std::string> shown_keys;
    for (const cJSON *key = root->child; key != nullptr; key = key->next) {
        shown_keys.emplace_back(key->string);
        fields += static_cast<std::size_t>(cJSON_GetArraySize(key));
    }
    EXPECT_EQ(shown_keys, keys);
    EXPECT_EQ(fields, 393u);
}

TEST(CfgtoolCodec, EncodeOfDecodeGivesTheRecordBack) {
    std::mt19937 random(2026);
    for (int round = 0; round < 200; ++round) {
        const auto record = as_tool_record(random_canonical_record(random));
        dcu::cfgtool::Record again{};
        ASSERT_EQ(encode_from_json(decode_to_json(record), again), "") << "round " << round;
        ASSERT_EQ(again, record) << "round " << round;
    }
}

struct Accepted {
    const char *json;
    const char *key;
    const char *field;
    std::vector<std::uint8_t> bytes;  // the field's bytes in the record
};

TEST(CfgtoolCodec, EncodeTakesEdgeValuesAndDefaultsTheRest) {
    const Accepted cases[] = {
        {R"({"P_0SerMeter_1Config": {"MeterAddr": 4294967295}})", "P_0SerMeter_1Config", "MeterAddr", {0xFF, 0xFF, 0xFF, 0xFF}},
        {R"({"P_0SerMeter_1Config": {"MeterAddr": -2147483648}})", "P_0SerMeter_1Config", "MeterAddr", {0, 0, 0, 0x80}},
        {R"({"MQTT_INFO": {"BrokerPort": -1}})", "MQTT_INFO", "BrokerPort", {0xFF, 0xFF}},
        {R"({"IEC104_INFO": {"IecPort": 65535}})", "IEC104_INFO", "IecPort", {0xFF, 0xFF}},
        // A 16-bit field, signed or not, takes both forms of the same bits.
        {R"({"MQTT_INFO": {"BrokerPort": 40000}})", "MQTT_INFO", "BrokerPort", {0x40, 0x9C}},
        {R"({"MQTT_INFO": {"BrokerPort": -25536}})", "MQTT_INFO", "BrokerPort", {0x40, 0x9C}},
        {R"({"TEV_EMS_INFO": {"BrokerPort": 32768}})", "TEV_EMS_INFO", "BrokerPort", {0x00, 0x80}},
        {R"({"TEV_EMS_INFO": {"BrokerPort": 65535}})", "TEV_EMS_INFO", "BrokerPort", {0xFF, 0xFF}},
        {R"({"IEC104_INFO": {"IecPort": 40000}})", "IEC104_INFO", "IecPort", {0x40, 0x9C}},
        {R"({"IEC104_INFO": {"IecPort": -25536}})", "IEC104_INFO", "IecPort", {0x40, 0x9C}},
        {R"({"IEC104_INFO": {"IecPort": -32768}})", "IEC104_INFO", "IecPort", {0x00, 0x80}},
        {R"({"DCU_GEN_INFO": {"DbgLogIp": "0123456789abcdef"}})", "DCU_GEN_INFO", "DbgLogIp",
         {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'a', 'b', 'c', 'd', 'e', 'f'}},
        {R"({"IPSECCFG": {"KeyingMode": "a\"b\\c\u0001"}})", "IPSECCFG", "KeyingMode", {'a', '"', 'b', '\\', 'c', 1, 0, 0}},
        // An escaped backslash before "u0000" is no NUL.
        {R"({"IPSECCFG": {"KeyingMode": "\\u0000"}})", "IPSECCFG", "KeyingMode", {'\\', 'u', '0', '0', '0', '0', 0, 0}},
        // Blanks may follow the object.
        {"{\"MQTT_INFO\": {\"Enable\": 1}}\n \t\r\n", "MQTT_INFO", "Enable", {1}},
    };
    for (const Accepted &c : cases) {
        dcu::cfgtool::Record record{};
        ASSERT_EQ(encode_from_json(c.json, record), "") << c.json;
        const fx::Field &f = fx::field_of(c.key, c.field);
        EXPECT_EQ(std::vector<std::uint8_t>(record.begin() + static_cast<std::ptrdiff_t>(f.offset),
                                            record.begin() + static_cast<std::ptrdiff_t>(f.offset + f.size)),
                  c.bytes)
            << c.json;
        // Everything else is zero, apart from the frame.
        fx::Record expected{};
        std::copy(c.bytes.begin(), c.bytes.end(), expected.begin() + static_cast<std::ptrdiff_t>(f.offset));
        fx::seal(expected);
        EXPECT_TRUE(std::equal(record.begin(), record.end(), expected.begin())) << c.json;
    }
}

TEST(CfgtoolCodec, EncodeRefusesBadInputNamingKeyAndField) {
    using namespace std::string_literals;
    const std::pair<std::string, const char *> cases[] = {
        {R"({"NO_SUCH_KEY": {}})", R"(unknown key "NO_SUCH_KEY")"},
        {R"({"MQTT_INFO": {"BrokerPortt": 1}})", R"(MQTT_INFO: unknown field "BrokerPortt")"},
        {R"({"P_0SerMeter_6Config": {"Enable": 1}})", R"(unknown key "P_0SerMeter_6Config")"},
        {R"({"DCU_GEN_INFO": {"DcuDevId": 256}})", "DCU_GEN_INFO DcuDevId: 256 is out of range 0..255"},
        {R"({"DCU_GEN_INFO": {"DcuDevId": -1}})", "DCU_GEN_INFO DcuDevId: -1 is out of range 0..255"},
        {R"({"EthMeter_3Config": {"Port": 65536}})", "EthMeter_3Config Port: 65536 is out of range -32768..65535"},
        {R"({"EthMeter_3Config": {"Port": -32769}})", "EthMeter_3Config Port: -32769 is out of range -32768..65535"},
        {R"({"TEV_EMS_INFO": {"BrokerPort": 65536}})", "TEV_EMS_INFO BrokerPort: 65536 is out of range -32768..65535"},
        {R"({"TEV_EMS_INFO": {"BrokerPort": -32769}})", "TEV_EMS_INFO BrokerPort: -32769 is out of range -32768..65535"},
        {R"({"NTP_INFO": {"Interval": 4294967296}})",
         "NTP_INFO Interval: 4294967296 is out of range -2147483648..4294967295"},
        {R"({"NTP_INFO": {"Interval": -2147483649}})",
         "NTP_INFO Interval: -2147483649 is out of range -2147483648..4294967295"},
        {R"({"NTP_INFO": {"Interval": 1.5}})", "NTP_INFO Interval: expected an integer"},
        {R"({"NTP_INFO": {"Interval": "60"}})", "NTP_INFO Interval: expected an integer"},
        {R"({"NTP_INFO": {"Ntp1IpAddr": 1}})", "NTP_INFO Ntp1IpAddr: expected a text"},
        {R"({"IPSECCFG": {"KeyingMode": "123456789"}})",
         "IPSECCFG KeyingMode: text of 9 bytes does not fit its 8-byte slot"},
        {R"({"MQTT_INFO": {"Enable": 1}, "MQTT_INFO": {"Enable": 0}})", R"(key "MQTT_INFO" given twice)"},
        {R"({"MQTT_INFO": {"Enable": 1, "Enable": 0}})", "MQTT_INFO Enable: given twice"},
        {R"({"MQTT_INFO": 1})", "MQTT_INFO: expected an object of fields"},
        {R"([1, 2])", "the top level must be an object of store keys"},
        {R"({"MQTT_INFO": {"Enable": 1})", "not valid JSON (near byte 26)"},
        // Only blanks may follow the object.
        {R"({"MQTT_INFO": {"Enable": 1}} {"MQTT_INFO": {"Enable": 0}})", "text after the JSON object (at byte 29)"},
        {R"({"MQTT_INFO": {"Enable": 1}}x)", "text after the JSON object (at byte 28)"},
        {"{}\n\0"s, "text after the JSON object (at byte 3)"},
        // A NUL would end the text where the record slot ends it.
        {R"({"IPSECCFG": {"KeyingMode": "A\u0000BCD"}})", "IPSECCFG KeyingMode: text holds a NUL (\\u0000)"},
        {R"({"IPSECCFG": {"KeyingMode": "\u0000"}})", "IPSECCFG KeyingMode: text holds a NUL (\\u0000)"},
        // The parser reads an escape whose digits are not all hexadecimal as \u0000.
        {R"({"IPSECCFG": {"KeyingMode": "AB\uZZZZCD"}})", "IPSECCFG KeyingMode: text holds a NUL (\\u0000)"},
        {R"({"IPSECCFG": {"KeyingMode": "AB\u00G1"}})", "IPSECCFG KeyingMode: text holds a NUL (\\u0000)"},
        {"{\"IPSECCFG\": {\"KeyingMode\": \"A\0B\"}}"s, "IPSECCFG KeyingMode: text holds a NUL (\\u0000)"},
        {R"({"DCU_GEN_INFO": {"SerNum": "q\"\\", "DbgLogIp": "1.2\u0000"}})",
         "DCU_GEN_INFO DbgLogIp: text holds a NUL (\\u0000)"},
        {R"({"MQTT_INFO": {"Enable\u0000": 1}})", "MQTT_INFO: a field name holds a NUL (\\u0000)"},
        {R"({"MQTT_INFO\u0000x": {"Enable": 1}})", "a key name holds a NUL (\\u0000)"},
    };
    for (const auto &[json, message] : cases) {
        dcu::cfgtool::Record record{};
        EXPECT_EQ(encode_from_json(json, record), message) << json;
    }
}

TEST(CfgtoolCodec, CheckNamesTheFailingCheckOffsetAndValues) {
    fx::Record valid{};
    fx::seal(valid);  // all-zero fields: CRC 0xDE54 (the CRC of "ZQPA" and 4706 zero bytes)
    auto with = [&](std::size_t at, std::uint8_t value) {
        fx::Record r = valid;
        r[at] = value;
        return as_tool_record(r);
    };
    fx::Record swapped = valid;
    std::swap(swapped[4710], swapped[4711]);
    fx::Record changed = valid;
    changed[100] = 1;

    struct Case {
        dcu::cfgtool::Record record;
        std::size_t size;
        bool valid;
        std::string line;
    };
    const std::uint16_t crc = fx::reference_crc(valid.data(), 4710);
    ASSERT_EQ(crc, 0xDE54);
    const Case cases[] = {
        {as_tool_record(valid), 4716, true, "valid: start flag, end flag and CRC 0xDE54 match"},
        {as_tool_record(valid), 5000, true,
         "valid: start flag, end flag and CRC 0xDE54 match (bytes past 4716 are ignored)"},
        {with(0, 0), 4716, false, "start flag wrong at offset 0: found 0x41505100, expected 0x4150515A"},
        {with(4715, 'a'), 4716, false, "end flag wrong at offset 4712: found 0x6150515A, expected 0x4150515A"},
        {with(4712, 0), 4712, false,
         "end flag wrong at offset 4712: found 0x41505100, expected 0x4150515A "
         "(the file holds 4712 of 4716 bytes; the rest reads as zero)"},
        {as_tool_record(swapped), 4716, false,
         "CRC wrong at offset 4710: found bytes 54 DE, expected DE 54 (CRC 0xDE54 of bytes 0 to 4709, high byte first)"},
        {as_tool_record(changed), 4716, false,
         "CRC wrong at offset 4710: found bytes DE 54, expected " + [&] {
             const std::uint16_t c = fx::reference_crc(changed.data(), 4710);
             char text[80];
             std::snprintf(text, sizeof text, "%02X %02X (CRC 0x%04X of bytes 0 to 4709, high byte first)", c >> 8,
                           c & 0xFF, static_cast<unsigned>(c));
             return std::string(text);
         }()},
    };
    for (const Case &c : cases) {
        const auto report = check_record(c.record, c.size);
        EXPECT_EQ(report.valid, c.valid) << c.line;
        EXPECT_EQ(report.line, c.line);
    }
}

}  // namespace
