#include "loader/config_file.hpp"

#include <cstdio>
#include <cstring>
#include <span>

#include "common/unique_fd.hpp"
#include "loader/config_record.hpp"

namespace {

std::uint16_t swap_bytes(std::uint16_t value) { return static_cast<std::uint16_t>(value << 8 | value >> 8); }

// The CRC as the unit prints it: swapped, so that it reads as the stored
// CRC read little-endian.
std::uint16_t print_calculated_crc(std::uint16_t crc) {
    const std::uint16_t swapped = swap_bytes(crc);
    std::printf("Calculated CRC : %X\n", static_cast<unsigned>(swapped));
    return swapped;
}

}  // namespace

extern "C" std::uint16_t modbus_crc16(const unsigned char *bytes, unsigned length) {
    return print_calculated_crc(dcu::loader::crc16_modbus(std::span<const std::uint8_t>(bytes, length)));
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

    // The checks are cfgtool's too; the unit's lines are printed here.
    const FrameVerdict verdict = check_frame(bytes_of(into));
    switch (verdict.failed) {
    case FrameCheck::start_flag: std::puts("Start Flag Not Matched"); return -1;
    case FrameCheck::end_flag: std::puts("End Flag Not Matched"); return -1;
    case FrameCheck::crc:
    case FrameCheck::ok: break;
    }
    print_calculated_crc(verdict.computed_crc);
    if (verdict.failed == FrameCheck::crc) {
        std::puts("Crc Not Matched");
        return -1;
    }
    std::puts("Start & End Flag and CRC Matched");
    return 0;
}

}  // namespace dcu::loader
