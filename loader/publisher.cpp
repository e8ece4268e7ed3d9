#include "loader/publisher.hpp"

#include <cstdio>
#include <string>

#include "common/store.hpp"
#include "loader/config_record.hpp"

namespace dcu::loader {
namespace {

// Texts go to standard output bounded by their slot (%.*s), never read past it.
int printable_length(std::string_view text) { return static_cast<int>(text.size()); }

const PublishEntry &entry_at(std::size_t index) { return kPublishTable[index]; }

// "Port : %d, Met : %d, > ..." for the serial meter slot whose Enable entry is
// at `index`; the slot's other five entries follow it in table order
// (checked where the table is built).
void print_meter_slot(RecordBytes record, std::size_t index) {
    const PublishEntry &enable = entry_at(index);
    const std::string_view pass = text_value(record, entry_at(index + 4));
    const std::string_view loc = text_value(record, entry_at(index + 5));
    std::printf("Port : %d, Met : %d, > %d,%d,%d,%d,%.*s,%.*s\n", enable.key_numbers[0], enable.key_numbers[1] - 1,
                integer_value(record, enable), integer_value(record, entry_at(index + 1)),
                integer_value(record, entry_at(index + 2)), integer_value(record, entry_at(index + 3)),
                printable_length(pass), pass.data(), printable_length(loc), loc.data());
}

void print_serial_port(RecordBytes record, std::size_t index) {
    const PublishEntry &port = entry_at(index);
    const std::string_view uart = text_value(record, port);
    std::printf("Idx : %d, SerPort Uart : %.*s\n", port.field_number, printable_length(uart), uart.data());
}

void print_log_ser_ip(RecordBytes record, std::size_t index) {
    const std::string_view ip = text_value(record, entry_at(index));
    std::printf("LogSerIp %.*s\n", printable_length(ip), ip.data());
}

// One command per entry, its reply released at once. False when no reply
// came at all; a refusal (an error reply) is skipped like any reply.
bool publish(store::Connection &store, RecordBytes record, const PublishEntry &entry) {
    if (entry.type == ValueType::text) {
        const std::string text(text_value(record, entry));
        return store.command("hmset %s %s %s", entry.key.c_str(), entry.field.c_str(), text.c_str()).arrived();
    }
    return store.command("hmset %s %s %d", entry.key.c_str(), entry.field.c_str(), integer_value(record, entry))
        .arrived();
}

}  // namespace

const PublishEntry *publish_step(store::Connection &store, const dcu_config_record &config, Step step,
                                 OnNoReply on_no_reply) {
    const PublishEntry *first_failed = nullptr;
    const RecordBytes record = bytes_of(config);
    const std::span<const PublishEntry> entries = entries_of(step);
    const auto first = static_cast<std::size_t>(entries.data() - kPublishTable.data());
    for (std::size_t index = first; index < first + entries.size(); ++index) {
        const PublishEntry &entry = entry_at(index);
        if (entry.line == StdoutLine::meter_slot_before) print_meter_slot(record, index);
        if (entry.line == StdoutLine::serial_port_before) print_serial_port(record, index);
        if (!publish(store, record, entry) && first_failed == nullptr) {
            first_failed = &entry;
            if (on_no_reply == OnNoReply::stop) break;
        }
        if (entry.line == StdoutLine::log_ser_ip_after) print_log_ser_ip(record, index);
    }
    return first_failed;
}

void publish_whole_record(store::Connection &store, const dcu_config_record &config) {
    const RecordBytes record = bytes_of(config);
    const std::string_view args[] = {"HMSET", "DLMS_DCU_CONFIG", "stat",
                                     std::string_view(reinterpret_cast<const char *>(record.data()), record.size())};
    (void)store.command_argv(args);
}

}  // namespace dcu::loader
