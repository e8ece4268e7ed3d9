#include "loader/config_file.hpp"

#include <cstdio>
#include <cstring>
#include <span>

#include "common/unique_fd.hpp"
#include "loader/config_record.hpp"

namespace {

std::uint16_t swap_bytes(std::uint16_t value) { return static_cast<std::uint16_t>(value << 8 | value >> 8); }

}  // namespace

extern "C" std::uint16_t modbus_crc16(const unsigned char *bytes, unsigned length) {
    const std::uint16_t swapped = swap_bytes(dcu::loader::crc16_modbus(std::span<const std::uint8_t>(bytes, length)));
    std::printf("Calculated CRC : %X\n", static_cast<unsigned>(swapped));
    return swapped;
}

namespace dcu::loader {

int read_config_file(const char *path, dcu_config_record &into) {
    std::printf("Sizeof cfg str : %d\n", static_cast<int>(sizeof(dcu_config_record)));

    dcu::UniqueFile file(std::fopen(path, "r"));
    if (!file) {
        std::perror("fopen ");
        return -1;
    }
    std::memset(&into, 0, sizeof into);
    // A short read leaves the rest zero; bytes past the record are never read.
    (void)std::fread(&into, 1, sizeof into, file.get());
    file.reset();

    const RecordBytes record = bytes_of(into);
    std::uint32_t start_flag = 0;
    std::uint32_t end_flag = 0;
    std::memcpy(&start_flag, record.data() + kStartFlagOffset, sizeof start_flag);
    std::memcpy(&end_flag, record.data() + kEndFlagOffset, sizeof end_flag);
    if (start_flag != kFlag) {
        std::puts("Start Flag Not Matched");
        return -1;
    }
    if (end_flag != kFlag) {
        std::puts("End Flag Not Matched");
        return -1;
    }
    std::uint16_t stored = 0;  // high byte first in the file, so read little-endian it is the swapped CRC
    std::memcpy(&stored, record.data() + kCrcOffset, sizeof stored);
    if (stored != modbus_crc16(record.data(), static_cast<unsigned>(kCrcSpan))) {
        std::puts("Crc Not Matched");
        return -1;
    }
    std::puts("Start & End Flag and CRC Matched");
    return 0;
}

}  // namespace dcu::loader
