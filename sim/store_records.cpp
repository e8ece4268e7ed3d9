// The hashes that the unit's meter-reading and modem processes keep in the
// store. Each record is deleted and written anew, so nothing of an earlier
// run (a longer reading list, a meter the unit no longer has) survives.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "common/store.hpp"
#include "common/unit_keys.hpp"
#include "sim/writers.hpp"

namespace dcu::sim {

namespace {

namespace keys = unit_keys;

using Args = std::vector<std::string>;

bool run(store::Connection &store, const Args &args) {
    const std::vector<std::string_view> views(args.begin(), args.end());
    const store::Reply reply = store.command_argv(views);
    if (reply.arrived() && !reply.is_error()) return true;
    const char *reason = reply.arrived()                ? reply.get()->str
                         : store.context() != nullptr ? store.context()->errstr
                                                      : "not connected";
    std::fprintf(stderr, "metersim: store command %s %s failed: %s\n", args[0].c_str(),
                 args.size() > 1 ? args[1].c_str() : "", reason);
    return false;
}

using keys::Key;

std::string ethernet_status_key(int meter) { return Key(keys::kEthernetStatus, 0, meter).str(); }

bool write_meter(store::Connection &store, const Meter &meter) {
    if (!run(store, {"HSET", Key(keys::kSerialNumber, meter.port, meter.meter).str(), keys::kSerialNumberField,
                     meter.serial}))
        return false;

    Args inst = {"HSET", Key(keys::kInstantReadings, meter.port, meter.meter).str(), keys::kReadingCountField,
                 std::to_string(meter.readings.size())};
    for (std::size_t i = 0; i < meter.readings.size(); ++i) {
        const int k = static_cast<int>(i) + 1;
        inst.insert(inst.end(), {Key(keys::kReadingObisField, k).str(), meter.readings[i].obis});
        inst.insert(inst.end(), {Key(keys::kReadingValueField, k).str(), meter.readings[i].value});
    }
    if (!run(store, inst)) return false;

    if (!run(store, {"HSET", Key(keys::kSerialStatus, meter.port, meter.meter).str(), keys::kStatusField,
                     std::to_string(meter.comm_status)}))
        return false;

    if (meter.od_names.empty()) return true;
    Args od = {"HSET", Key(keys::kOdLsFiles, meter.port, meter.meter).str()};
    for (std::size_t k = 1; k <= meter.od_names.size(); ++k)
        od.insert(od.end(), {"File" + std::to_string(k), meter.od_names[k - 1]});
    return run(store, od);
}

}  // namespace

bool write_store_records(store::Connection &store, const UnitModel &unit) {
    for (int position = 0; position < kSerialPositions; ++position) {
        const int port = position / kMetersPerPort;
        const int meter = position % kMetersPerPort;
        if (!run(store, {"DEL", Key(keys::kSerialNumber, port, meter).str(),
                         Key(keys::kInstantReadings, port, meter).str(), Key(keys::kSerialStatus, port, meter).str(),
                         Key(keys::kOdLsFiles, port, meter).str()}))
            return false;
    }
    for (const Meter &meter : unit.meters)
        if (!write_meter(store, meter)) return false;

    for (int slot = 0; slot < kEthernetSlots; ++slot)
        if (!run(store, {"DEL", ethernet_status_key(slot)})) return false;
    for (std::size_t slot = 0; slot < unit.eth_status.size(); ++slot)
        if (!run(store, {"HSET", ethernet_status_key(static_cast<int>(slot)), keys::kStatusField,
                         std::to_string(unit.eth_status[slot])}))
            return false;

    const Modem &modem = unit.modem;
    return run(store, {"DEL", keys::kModemDiag}) &&
           run(store, {"HSET", keys::kModemDiag, keys::kModemStatusField, modem.status, keys::kModemSignalStrengthField,
                       modem.signal_strength, keys::kModemNetworkTypeField, modem.network_type,
                       keys::kModemRegistrationField, modem.registration, keys::kModemOperatorField,
                       modem.network_operator, keys::kModemImeiField, modem.imei});
}

}  // namespace dcu::sim
