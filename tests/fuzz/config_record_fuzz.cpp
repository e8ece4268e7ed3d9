// Any bytes as the configuration file. The loader's checks accept exactly the
// records whose start flag, end flag and CRC match; a record that passes
// publishes exactly the table's commands, "hmset KEY FIELD VALUE" each, with
// every value as the record holds it.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "loader/config_record.hpp"
#include "loader/publisher.hpp"
#include "tests/fuzz/recording_store.hpp"

namespace {

using namespace dcu::loader;

[[noreturn]] void fail(const char *what) {
    std::fprintf(stderr, "config_record_fuzz: %s\n", what);
    std::abort();
}

std::uint32_t read_u32(const std::uint8_t *bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

// The CRC bit by bit, apart from the loader's table-driven one.
std::uint16_t reference_crc(const std::uint8_t *bytes, std::size_t size) {
    std::uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
    }
    return crc;
}

bool frame_matches(const std::array<std::uint8_t, kRecordSize> &record) {
    const std::uint16_t stored = static_cast<std::uint16_t>(record[kCrcOffset] << 8 | record[kCrcOffset + 1]);
    return read_u32(&record[kStartFlagOffset]) == kFlag && read_u32(&record[kEndFlagOffset]) == kFlag &&
           stored == reference_crc(record.data(), kCrcSpan);
}

void publish_and_check(const std::array<std::uint8_t, kRecordSize> &record) {
    // For the whole run.
    static auto *connection = new dcu::store::OwnedConnection();
    static auto *store = new dcu::fuzz::RecordingStore(*connection);
    dcu_config_record config;
    std::memcpy(&config, record.data(), kRecordSize);
    // The publisher's standard-output lines are not what is checked here.
    std::FILE *saved = stdout;
    static std::FILE *null_out = std::fopen("/dev/null", "w");
    stdout = null_out;
    for (const auto &step : kPublishingSequence) (void)publish_step(*connection, config, step.step, OnNoReply::go_on);
    stdout = saved;
    const auto commands = store->take();
    if (commands.size() != kPublishTable.size()) fail("not one command per table entry");
    for (std::size_t i = 0; i < commands.size(); ++i) {
        const auto &entry = kPublishTable[i];
        const auto &command = commands[i];
        if (command.size() != 4 || command[0] != "hmset") fail("not an hmset of one field");
        if (command[1] != entry.key.view() || command[2] != entry.field.view()) fail("wrong key or field");
        const std::string expected = entry.type == ValueType::text
                                         ? std::string(text_value(record, entry))
                                         : std::to_string(integer_value(record, entry));
        if (command[3] != expected) fail("value differs from the record");
        if (entry.type == ValueType::text && (command[3].size() > entry.size || command[3].find('\0') != std::string::npos))
            fail("text beyond its slot");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    std::array<std::uint8_t, kRecordSize> record{};
    std::memcpy(record.data(), data, std::min(size, kRecordSize));

    // As the file came: the loader's verdict equals an independent check.
    const bool accepted = check_frame(record).failed == FrameCheck::ok;
    if (accepted != frame_matches(record)) fail("frame check disagrees with the reference");
    if (accepted) publish_and_check(record);

    // The same bytes made valid: accepted, and (for one input in eight, since
    // publishing is slow) published field by field.
    seal_record(record);
    if (check_frame(record).failed != FrameCheck::ok || !frame_matches(record)) fail("sealed record refused");
    if (size > 0 && data[0] % 8 == 0) publish_and_check(record);
    return 0;
}
