#include "loader/config_record.hpp"

#include <cstring>
#include <type_traits>

namespace dcu::loader {

// ---------------------------------------------------------------------------
// What the loader's suites can't see. Every published field's offset, type
// and size, and that the table covers every byte but the flags, the CRC and
// the reserved gaps exactly once, are checked against the unit's layout as
// tests/loader/fixtures.cpp writes it out on its own (on the board's build
// too, under qemu). Here: what reading the file into the structure in place
// needs, and the frame that check_frame reads.

static_assert(std::is_trivially_copyable_v<dcu_config_record> && std::is_standard_layout_v<dcu_config_record>);
static_assert(sizeof(dcu_config_record) == kRecordSize);
static_assert(kStartFlagOffset == 0 && kCrcOffset == kCrcSpan && sizeof(dcu_config_record::Crc) == 2 &&
              kEndFlagOffset == kCrcSpan + 2 && kEndFlagOffset + 4 == kRecordSize);
// The flags read little-endian spell "ZQPA".
static_assert(kFlag == (std::uint32_t{'Z'} | std::uint32_t{'Q'} << 8 | std::uint32_t{'P'} << 16 |
                        std::uint32_t{'A'} << 24));

// ---------------------------------------------------------------------------

namespace {

// The CRC one byte at a time, from a table made by the bit-by-bit rule:
// for each of the eight bits, shift right, and xor 0xA001 when the bit
// shifted out was 1.
constexpr std::array<std::uint16_t, 256> make_crc_table() {
    std::array<std::uint16_t, 256> table{};
    for (unsigned byte = 0; byte < 256; ++byte) {
        unsigned crc = byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1U) != 0 ? (crc >> 1) ^ 0xA001U : crc >> 1;
        table[byte] = static_cast<std::uint16_t>(crc);
    }
    return table;
}
constexpr std::array<std::uint16_t, 256> kCrcTable = make_crc_table();

std::uint32_t read_u32(RecordBytes record, std::size_t offset) noexcept {
    std::uint32_t value = 0;
    std::memcpy(&value, record.data() + offset, sizeof value);
    return value;
}

}  // namespace

std::uint16_t crc16_modbus(std::span<const std::uint8_t> bytes) noexcept {
    unsigned crc = 0xFFFF;
    for (std::uint8_t byte : bytes) crc = (crc >> 8) ^ kCrcTable[(crc ^ byte) & 0xFFU];
    return static_cast<std::uint16_t>(crc);
}

FrameVerdict check_frame(RecordBytes record) noexcept {
    FrameVerdict verdict;
    verdict.start_flag = read_u32(record, kStartFlagOffset);
    verdict.end_flag = read_u32(record, kEndFlagOffset);
    if (verdict.start_flag != kFlag) {
        verdict.failed = FrameCheck::start_flag;
        return verdict;
    }
    if (verdict.end_flag != kFlag) {
        verdict.failed = FrameCheck::end_flag;
        return verdict;
    }
    verdict.computed_crc = crc16_modbus(record.first<kCrcSpan>());
    verdict.stored_crc = static_cast<std::uint16_t>(record[kCrcOffset] << 8 | record[kCrcOffset + 1]);
    if (verdict.computed_crc != verdict.stored_crc) verdict.failed = FrameCheck::crc;
    return verdict;
}

void seal_record(MutableRecordBytes record) noexcept {
    const std::uint32_t flag = kFlag;
    std::memcpy(record.data() + kStartFlagOffset, &flag, sizeof flag);
    std::memcpy(record.data() + kEndFlagOffset, &flag, sizeof flag);
    const std::uint16_t crc = crc16_modbus(std::span<const std::uint8_t>(record.data(), kCrcSpan));
    record[kCrcOffset] = static_cast<std::uint8_t>(crc >> 8);
    record[kCrcOffset + 1] = static_cast<std::uint8_t>(crc & 0xFFU);
}

int integer_value(RecordBytes record, const PublishEntry &entry) noexcept {
    const std::uint8_t *at = record.data() + entry.offset;
    switch (entry.type) {
    case ValueType::u8: return *at;
    case ValueType::u16: {
        std::uint16_t value = 0;
        std::memcpy(&value, at, sizeof value);
        return value;
    }
    case ValueType::s16: {
        std::int16_t value = 0;
        std::memcpy(&value, at, sizeof value);
        return value;
    }
    case ValueType::u32: {
        std::int32_t value = 0;  // the same four bytes read as signed
        std::memcpy(&value, at, sizeof value);
        return value;
    }
    case ValueType::text: break;
    }
    return 0;
}

std::string_view text_value(RecordBytes record, const PublishEntry &entry) noexcept {
    const char *slot = reinterpret_cast<const char *>(record.data() + entry.offset);
    return std::string_view(slot, strnlen(slot, entry.size));
}

}  // namespace dcu::loader
