#include "reqhandlers/meter_lookup.hpp"

#include <cstring>
#include <optional>
#include <string_view>

#include "common/decimal_text.hpp"
#include "common/store.hpp"
#include "common/unit_keys.hpp"
#include "reqhandlers/entry_guard.hpp"

namespace dcu::meters {

namespace {

constexpr const char *kFindFunName = "find_ser_num()";

// The serial numbers as last read, whole. g_meter_ser_num_info mirrors them
// cut to its 31 characters for the host; the search runs on the whole texts
// so that a long serial number is still found by its full text.
std::array<std::string, kPositions> &known_serial_numbers() {
    static std::array<std::string, kPositions> table;
    return table;
}

void mirror_into_host_table(std::size_t index, std::string_view serial) {
    const Position at = position_of(index);
    char *entry = g_meter_ser_num_info[at.port][at.meter];
    std::memset(entry, 0, DCU_SER_NUM_SIZE);
    std::memcpy(entry, serial.data(), std::min<std::size_t>(serial.size(), DCU_SER_NUM_SIZE - 1));
}

}  // namespace

void forget_known_serial_numbers() {
    for (auto &serial : known_serial_numbers()) serial.clear();
    std::memset(g_meter_ser_num_info, 0, sizeof g_meter_ser_num_info);
}

SerialNumbers read_serial_numbers() {
    SerialNumbers serials;
    store::Pipeline pipeline;
    for (std::size_t index = 0; index < kPositions; ++index) {
        const Position at = position_of(index);
        pipeline.append("HMGET %s %s", unit_keys::Key(unit_keys::kSerialNumber, at.port, at.meter).c_str(),
                        unit_keys::kSerialNumberField);
    }
    for (auto &serial : serials.texts) {
        store::Reply reply = pipeline.next();
        serials.all_replied = serials.all_replied && reply.arrived();
        if (auto text = reply.element_text(0)) serial.emplace(*text);
    }
    return serials;
}

std::optional<Position> resolve(const char *ser_num) {
    const std::int16_t packed = find_ser_num(ser_num);
    if (packed < 0) return std::nullopt;
    return Position{(packed >> 8) & 0xFF, packed & 0xFF};
}

}  // namespace dcu::meters

namespace dcu::meters {
namespace {

std::int16_t find_serial_number(const char *ser_num) {
    auto &known = known_serial_numbers();
    const auto fresh = read_serial_numbers().texts;
    for (std::size_t index = 0; index < kPositions; ++index) {
        // A position the store no longer answers for keeps its last serial number.
        if (!fresh[index]) continue;
        known[index] = *fresh[index];
        mirror_into_host_table(index, known[index]);
    }
    // The empty text is part of every serial number: it names no meter
    // (a request without one must not reach the first meter). A whole serial
    // number names its meter even when another one, earlier, contains it
    // ("SN1" is not "SN10"); other texts name the first that contains them.
    if (ser_num != nullptr && *ser_num != '\0') {
        const std::string_view wanted(ser_num);
        const auto first = [&](auto matches) -> std::optional<std::size_t> {
            for (std::size_t index = 0; index < kPositions; ++index)
                if (!known[index].empty() && matches(known[index])) return index;
            return std::nullopt;
        };
        auto found = first([&](const std::string &serial) { return serial == wanted; });
        if (!found) found = first([&](const std::string &serial) { return serial.find(wanted) != std::string::npos; });
        if (found) {
            const std::int16_t packed = position_of(*found).packed();
            dbg_log(0, "%-20s : Both meter ser num are same, Val : %X\n", kFindFunName, static_cast<unsigned>(packed));
            return packed;
        }
    }
    dbg_log(4, "%-25s : Recv MeterSerNum : %s Not Found\n", kFindFunName, ser_num ? ser_num : "");
    return -1;
}

std::int16_t port_and_meter_of(const char *dir_name) noexcept {
    // The number after "meter_id_", read as atoi reads it; only its low 8 bits count.
    int number = 0;
    if (dir_name != nullptr && std::strlen(dir_name) >= 9) number = decimal::leading_low_byte(dir_name + 9);
    // Directory names counted from 1 here: meter_id_1 is port 0, meter 0.
    const int port = ((number - 1) / kMetersPerPort) & 0xFF;
    const int meter = ((number - 1) % kMetersPerPort) & 0xFF;
    return static_cast<std::int16_t>(port * 256 + meter);
}

}  // namespace
}  // namespace dcu::meters

extern "C" int16_t find_ser_num(const char *ser_num) {
    // Out of memory while copying serial numbers: no meter can be named.
    // Called by a handler, its scope is the handler's request.
    return static_cast<int16_t>(
        dcu::entry::guarded([&] { return int{dcu::meters::find_serial_number(ser_num)}; }, [] { return -1; }));
}

extern "C" int16_t get_port_met_det(const char *dir_name) {
    // Plain arithmetic, which can't fail; guarded like every entry point.
    return static_cast<int16_t>(
        dcu::entry::guarded([&] { return int{dcu::meters::port_and_meter_of(dir_name)}; }, [] { return -1; }));
}
