// The diagnostics answers: the modem's state as the unit's modem process
// keeps it in the store, and the communication status of every
// configured meter, port by port.
//
// Both read only the store and the host's configuration record, and return
// what send_msg returned. Nothing here allocates or throws; should anything
// ever, the answer still comes, with CMD_STATUS "FAILURE" and no data.
#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "common/store.hpp"
#include "common/unit_keys.hpp"
#include "dcu/reqhandlers.h"
#include "reqhandlers/answer.hpp"
#include "common/decimal_text.hpp"
#include "reqhandlers/entry_guard.hpp"

namespace dcu::diagnostics {

namespace {

namespace keys = unit_keys;

constexpr std::string_view kModemType = "GET_MODEM_DIAG_MESSAGE";
constexpr std::string_view kCommnType = "GET_COMMN_STATUS_MESSAGE";

// A value the store holds for a field; an empty value counts as none.
std::optional<std::string_view> stored_value(const store::Reply &reply, std::size_t element) {
    auto text = reply.element_text(element);
    if (text && text->empty()) return std::nullopt;
    return text;
}

// ---- modem ----------------------------------------------------------------

struct ModemField {
    std::string_view name;
    bool integer;  // the store holds a decimal number, answered as its value
};

// In the order of the store command.
constexpr std::array<ModemField, 6> kModemFields{{
    {keys::kModemStatusField, false},
    {keys::kModemSignalStrengthField, true},
    {keys::kModemNetworkTypeField, true},
    {keys::kModemRegistrationField, true},
    {keys::kModemOperatorField, false},
    {keys::kModemImeiField, false},
}};

int send_modem_status(int seq_num) {
    answer::Answer answer(kModemType, seq_num, answer::CommandType::modem_message);
    auto &body = answer.body();
    // The sequence number as a first "Status", before the modem's own "Status".
    body.member("Status", seq_num);
    const store::Reply reply =
        store::command("hmget %s %s %s %s %s %s %s", keys::kModemDiag, keys::kModemStatusField,
                       keys::kModemSignalStrengthField, keys::kModemNetworkTypeField, keys::kModemRegistrationField,
                       keys::kModemOperatorField, keys::kModemImeiField);
    for (std::size_t i = 0; i < kModemFields.size(); ++i) {
        const auto value = stored_value(reply, i);
        if (!value) continue;  // a field without a value is left out
        if (kModemFields[i].integer) body.member(kModemFields[i].name, decimal::atoi_value(*value));
        else body.member(kModemFields[i].name, *value);
    }
    return answer.send();
}

// ---- communication status --------------------------------------------------

constexpr int kSerialPorts = DCU_NUM_SER_METER_PORTS;
constexpr int kMetersPerSerialPort = DCU_METERS_PER_SER_PORT;
constexpr int kEthernetMeters = DCU_NUM_ETH_METERS;
constexpr std::uint8_t kSerialMeters = 1;  // MeterType: meters on the serial ports
constexpr std::array<std::string_view, kSerialPorts> kPortNames{"PORT1", "PORT2", "PORT3", "PORT4"};

// A count as the record keeps it: the stored value's 32-bit pattern.
void take_count(const store::Reply &reply, std::uint32_t *count) {
    if (auto value = stored_value(reply, 0)) *count = static_cast<std::uint32_t>(decimal::atoi_value(*value));
}

// How many meters the status loop asks for: the count, read as the signed
// value it was published as, bounded by the record's slots.
int meters_to_look_up(std::uint32_t count, int slots) {
    return std::clamp(static_cast<int>(static_cast<std::int32_t>(count)), 0, slots);
}

// The STATUS list of one port from its replies, in meter order. A meter
// without a value is listed as the empty text, so that position k is always
// meter k and the list as long as NUM_METERS.
void write_status_list(answer::TextBuilder &body, store::Pipeline &pipeline, int meters) {
    body.open_member("STATUS", answer::layout::kInlineList);
    for (int m = 0; m < meters; ++m) {
        const store::Reply reply = pipeline.next();
        if (auto value = stored_value(reply, 0)) body.element(decimal::atoi_value(*value));
        else body.element(std::string_view{});
    }
    body.close();
}

void write_port(answer::TextBuilder &body, std::string_view name, int meters, store::Pipeline &statuses) {
    body.open_member(name, answer::layout::kObject);
    body.member("NUM_METERS", meters);
    write_status_list(body, statuses, meters);
    body.close();
}

void write_serial_ports(answer::TextBuilder &body) {
    auto &ports = dlms_dcu_config.SerMeterPort;
    {
        store::Pipeline counts;
        for (int p = 0; p < kSerialPorts; ++p)
            counts.append("hmget %s %s", keys::Key(keys::kSerialMeterInfo, p).c_str(), keys::kNumMetersField);
        for (auto &port : ports) take_count(counts.next(), &port.NumMeters);
    }
    std::array<int, kSerialPorts> meters{};
    store::Pipeline statuses;
    for (int p = 0; p < kSerialPorts; ++p) {
        meters[static_cast<std::size_t>(p)] = meters_to_look_up(ports[p].NumMeters, kMetersPerSerialPort);
        for (int m = 0; m < meters[static_cast<std::size_t>(p)]; ++m)
            statuses.append("HMGET %s %s", keys::Key(keys::kSerialStatus, p, m).c_str(), keys::kStatusField);
    }
    body.member("NUM_PORTS", kSerialPorts);
    for (std::size_t p = 0; p < kPortNames.size(); ++p) write_port(body, kPortNames[p], meters[p], statuses);
}

void write_ethernet_port(answer::TextBuilder &body) {
    auto &count = dlms_dcu_config.EthMeterInfo.NumMeters;
    take_count(store::command("hmget %s %s", keys::kEthernetMeterInfo, keys::kNumMetersField), &count);
    const int meters = meters_to_look_up(count, kEthernetMeters);
    store::Pipeline statuses;
    // The Ethernet meters all sit on port 0 of their status keys.
    for (int m = 0; m < meters; ++m)
        statuses.append("HMGET %s %s", keys::Key(keys::kEthernetStatus, 0, m).c_str(), keys::kStatusField);
    body.member("NUM_PORTS", 1);
    write_port(body, "ETH_PORT", meters, statuses);
}

int send_commn_status(int seq_num) {
    answer::Answer answer(kCommnType, seq_num, answer::CommandType::dlms_diag_message);
    // The store's meter type and counts replace the record's and stay there
    // for later requests; where the store has none, the record's value stands.
    {
        const store::Reply meter_type = store::command("hmget %s %s", keys::kGeneralInfo, keys::kMeterTypeField);
        if (auto value = stored_value(meter_type, 0))
            dlms_dcu_config.GenInfo.MeterType = static_cast<std::uint8_t>(decimal::atoi_value(*value));  // low 8 bits
    }
    if (dlms_dcu_config.GenInfo.MeterType == kSerialMeters) write_serial_ports(answer.body());
    else write_ethernet_port(answer.body());
    return answer.send();
}

int send_failure(std::string_view type, int seq_num, answer::CommandType command_type) {
    answer::Answer answer(type, seq_num, command_type);
    answer.fail();
    return answer.send();
}

}  // namespace

}  // namespace dcu::diagnostics

extern "C" int send_modem_status_det(int seq_num) {
    using namespace dcu::diagnostics;
    return dcu::entry::guarded([&] { return send_modem_status(seq_num); },
                               [&] { return send_failure(kModemType, seq_num, dcu::answer::CommandType::modem_message); });
}

extern "C" int send_commn_status_det(int seq_num) {
    using namespace dcu::diagnostics;
    return dcu::entry::guarded(
        [&] { return send_commn_status(seq_num); },
        [&] { return send_failure(kCommnType, seq_num, dcu::answer::CommandType::dlms_diag_message); });
}
