// Reading and validating the unit's configuration file into a record.
#pragma once

#include <cstdint>

#include "dcu/config_record.h"

namespace dcu::loader {

// Reads the record at `path` into `record` and checks its start flag, end
// flag and CRC, in that order, writing the check results to standard
// output. Returns 0 for a valid record, -1 otherwise (a file that can't be
// opened leaves the record as it was; any other failure leaves the bytes
// read). Only the first 4716 bytes of the file are read; a shorter file
// leaves the rest of the record zero. cfgload's read_bin_cfg reads into
// dlms_dcu_config through it.
int read_config_file(const char *path, dcu_config_record &record);

}  // namespace dcu::loader

extern "C" {

// CRC-16/MODBUS of `length` bytes with its two bytes swapped, so that it
// equals the CRC stored high byte first read as a little-endian value.
// Writes "Calculated CRC : %X" with that value to standard output.
std::uint16_t modbus_crc16(const unsigned char *bytes, unsigned length);

}
