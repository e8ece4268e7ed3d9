// The configuration record as the loader and cfgtool see it: the C layout of
// include/dcu/config_record.h, the framing (flags and CRC) and one table of
// publish entries, in the order the loader sends its store commands.
//
// The table is the single description of which record bytes become which
// store field: the publisher walks it to send "hmset KEY FIELD VALUE", and
// cfgtool walks it to turn a record into JSON and back. Offsets, types and
// slot sizes come from the C structure itself (publish_table.cpp); the
// loader's suites check every one of them against the unit's byte layout,
// written out independently in tests/loader/fixtures.cpp.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "dcu/config_record.h"

namespace dcu::loader {

static_assert(std::endian::native == std::endian::little,
              "the record's integers are little-endian and are read in place");

inline constexpr std::size_t kRecordSize = DCU_CONFIG_RECORD_SIZE;
inline constexpr std::size_t kCrcSpan = DCU_CONFIG_CRC_SPAN;
inline constexpr std::uint32_t kFlag = DCU_CONFIG_FLAG;
inline constexpr std::size_t kStartFlagOffset = offsetof(dcu_config_record, StartFlag);
inline constexpr std::size_t kCrcOffset = offsetof(dcu_config_record, Crc);
inline constexpr std::size_t kEndFlagOffset = offsetof(dcu_config_record, EndFlag);

using RecordBytes = std::span<const std::uint8_t, kRecordSize>;
using MutableRecordBytes = std::span<std::uint8_t, kRecordSize>;

// ---------------------------------------------------------------------------
// Framing

// CRC-16/MODBUS (reflected polynomial 0xA001, start 0xFFFF, no final xor) of
// the bytes, as a plain 16-bit value: "123456789" gives 0x4B37.
std::uint16_t crc16_modbus(std::span<const std::uint8_t> bytes) noexcept;

enum class FrameCheck { ok, start_flag, end_flag, crc };

// What the loader's checks find in a record, in the loader's order: start
// flag, end flag, CRC. The CRC fields are filled only once both flags match.
struct FrameVerdict {
    FrameCheck failed = FrameCheck::ok;
    std::uint32_t start_flag = 0;
    std::uint32_t end_flag = 0;
    std::uint16_t computed_crc = 0;  // CRC of bytes 0 to 4709
    std::uint16_t stored_crc = 0;    // bytes 4710 and 4711 read high byte first
};
FrameVerdict check_frame(RecordBytes record) noexcept;

// Writes both flags and the CRC (high byte first) into a record.
void seal_record(MutableRecordBytes record) noexcept;

// ---------------------------------------------------------------------------
// Publish table

enum class ValueType : std::uint8_t { u8, u16, s16, u32, text };

// The fourteen publishing steps, in the loader's order.
enum class Step : std::uint8_t {
    dcu_info,
    ser_meter_info,
    eth_meter_info,
    iec104_info,
    modtcp_info,
    dcu_poll_info,
    mqtt_info,
    tev_ems_info,
    ntp_info,
    dcu_eth_info,
    dcu_serial_info,
    gprs_info,
    ftp_server_info,
    vpn_info,
};
inline constexpr std::size_t kStepCount = 14;

// Lines the publisher writes to standard output around some commands.
enum class StdoutLine : std::uint8_t {
    none,
    meter_slot_before,   // "Port : %d, Met : %d, > ..." before a serial meter slot's first field
    serial_port_before,  // "Idx : %d, SerPort Uart : %s" before a unit serial port's first field
    log_ser_ip_after,    // "LogSerIp %s" after FTP_SER_INFO LogSerIp
};

// A key or field name with its element numbers filled in, built at compile time.
class StoreName {
public:
    static constexpr std::size_t kCapacity = 24;

    constexpr StoreName() = default;
    // format holds up to two "%d", filled in order from the numbers.
    constexpr StoreName(std::string_view format, int first, int second) {
        const int numbers[2] = {first, second};
        int used = 0;
        for (std::size_t i = 0; i < format.size(); ++i) {
            if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == 'd') {
                if (used == 2) throw "more than two %d in a store name";
                append_decimal(numbers[used++]);
                ++i;
            } else {
                append(format[i]);
            }
        }
    }
    constexpr std::string_view view() const { return {text_.data(), length_}; }
    // NUL-terminated, for the store's printf-style commands.
    constexpr const char *c_str() const { return text_.data(); }

private:
    constexpr void append(char c) {
        if (length_ + 1 >= kCapacity) throw "store name too long";
        text_[length_++] = c;
    }
    constexpr void append_decimal(int number) {
        if (number < 0 || number > 99) throw "element numbers run from 0 to 99";
        if (number >= 10) append(static_cast<char>('0' + number / 10));
        append(static_cast<char>('0' + number % 10));
    }
    std::array<char, kCapacity> text_{};
    std::size_t length_ = 0;
};

struct PublishEntry {
    Step step;
    std::string_view key_format;    // e.g. "P_%dSerMeter_%dConfig"
    std::array<int, 2> key_numbers; // the numbers its "%d"s take, in order
    std::string_view field_format;  // e.g. "MasterIp_%dEnable"
    int field_number;
    std::uint16_t offset;  // of the value in the record
    ValueType type;
    std::uint16_t size;    // bytes: 1, 2, 4, or the text slot
    StdoutLine line;
    StoreName key;
    StoreName field;
};

// Every published field, in the order of the loader's store commands
// (built in publish_table.cpp from the record's C declaration).
inline constexpr std::size_t kPublishEntries = 393;
extern const std::array<PublishEntry, kPublishEntries> kPublishTable;

// The entries of one step: a contiguous run of the table.
std::span<const PublishEntry> entries_of(Step step) noexcept;

// ---------------------------------------------------------------------------
// Values as the loader publishes them

// An integer field widened to int: u8 and u16 unsigned, s16 signed, u32 read
// as a signed 32-bit number (values from 2147483648 up are negative).
int integer_value(RecordBytes record, const PublishEntry &entry) noexcept;

// A text field: its slot up to the first NUL, never more than the slot.
std::string_view text_value(RecordBytes record, const PublishEntry &entry) noexcept;

// The record's bytes, as the loader reads them out of dlms_dcu_config.
inline RecordBytes bytes_of(const dcu_config_record &record) noexcept {
    return RecordBytes(reinterpret_cast<const std::uint8_t *>(&record), kRecordSize);
}
inline MutableRecordBytes bytes_of(dcu_config_record &record) noexcept {
    return MutableRecordBytes(reinterpret_cast<std::uint8_t *>(&record), kRecordSize);
}

}  // namespace dcu::loader
