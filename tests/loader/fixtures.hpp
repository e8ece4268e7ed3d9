// Fixtures of the loader suites: the unit's published fields written out
// with their literal byte offsets (independent of the loader's own table),
// record builders, and a capture of this process's standard output.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace dcu::test::loader {

inline constexpr std::size_t kRecordSize = 4716;
using Record = std::array<std::uint8_t, kRecordSize>;

enum class Kind { u8, u16, s16, u32, text };

struct Field {
    std::string key;
    std::string field;
    std::size_t offset;
    Kind kind;
    std::size_t size;  // bytes of the value or of the text slot
};

// Every published field in the order of the loader's 393 commands.
const std::vector<Field> &published_fields();

// The byte ranges that are not published: flags, reserved bytes, CRC.
struct ByteRange {
    std::size_t offset;
    std::size_t size;
};
const std::vector<ByteRange> &unpublished_ranges();

// The field of `key` / `field` in published_fields(); throws when unknown.
const Field &field_of(std::string_view key, std::string_view field);

// CRC-16/MODBUS bit by bit, for sealing fixtures independently of the loader.
std::uint16_t reference_crc(const std::uint8_t *bytes, std::size_t length);

void put_int(Record &record, const Field &field, std::uint32_t value);  // low bytes first
void put_text(Record &record, const Field &field, std::string_view text);  // no NUL added
// Both flags "ZQPA" and the CRC of bytes 0 to 4709, high byte first.
void seal(Record &record);

// The value the loader must publish for a field of the record.
std::string published_value(const Record &record, const Field &field);

// A sealed record whose every published field holds a value of its own,
// derived from its offset: integers with their top bit set, texts with a blank.
Record distinct_record();

void write_record(const std::filesystem::path &path, const Record &record);

// Everything this process writes to file descriptor 1 (or 2) while it lives,
// through a temporary file so that large outputs can't block.
class CapturedOutput {
public:
    explicit CapturedOutput(int fd = 1);
    CapturedOutput(const CapturedOutput &) = delete;
    CapturedOutput &operator=(const CapturedOutput &) = delete;
    ~CapturedOutput();
    // Restores the descriptor and returns what was written to it.
    std::string finish();

private:
    int fd_;
    int saved_fd_ = -1;
    std::FILE *file_ = nullptr;
};

}  // namespace dcu::test::loader
