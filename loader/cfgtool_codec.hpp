// What cfgtool does with a record, apart from files and arguments: the record
// as JSON keyed like the store (hash key, then field, then the value the
// loader publishes), the record from that JSON, and the loader's checks
// explained.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "loader/config_record.hpp"

namespace dcu::cfgtool {

using Record = std::array<std::uint8_t, loader::kRecordSize>;

// One JSON object: a member per store key in publish order, each an object of
// field -> value in publish order. Integers are numbers as published (u32
// signed), texts are strings (the slot up to its first NUL).
std::string decode_to_json(loader::RecordBytes record);

// Builds a record from JSON of the decode form: missing keys and fields are
// zero or empty, reserved bytes zero, flags and CRC set. Returns an empty
// string on success, otherwise why the input was refused (naming the key and
// field); `record` is then unspecified.
std::string encode_from_json(std::string_view json, Record &record);

// One line about the loader's checks on a record: which check fails, at which
// byte offset, what was found and what was expected; or that it passes.
// `file_size` is the size of the file the record came from.
struct CheckReport {
    bool valid;
    std::string line;
};
CheckReport check_record(loader::RecordBytes record, std::size_t file_size);

}  // namespace dcu::cfgtool
