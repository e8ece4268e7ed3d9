// The hashes that the unit's meter-reading and modem processes keep in the
// store. Each record is deleted and written anew, so nothing of an earlier
// run (a longer reading list, a meter the unit no longer has) survives.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "common/store.hpp"
#include "sim/writers.hpp"

namespace dcu::sim {

namespace {

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

std::string meter_key(int port, int meter, std::string_view suffix) {
    return "Port" + std::to_string(port) + "Met" + std::to_string(meter) + std::string(suffix);
}

std::string serial_status_key(int port, int meter) {
    return "SerPort" + std::to_string(port) + "Met" + std::to_string(meter) + "Status";
}

std::string ethernet_status_key(int meter) { return "EthPort0Met" + std::to_string(meter) + "Status"; }

bool write_meter(store::Connection &store, const Meter &meter) {
    if (!run(store, {"HSET", meter_key(meter.port, meter.meter, "SerNum"), "SER_NUM", meter.serial})) return false;

    Args inst = {"HSET", meter_key(meter.port, meter.meter, "inst_info"), "NUM_PARAM",
                 std::to_string(meter.readings.size())};
    for (std::size_t k = 1; k <= meter.readings.size(); ++k) {
        inst.insert(inst.end(), {"Obis_" + std::to_string(k), meter.readings[k - 1].obis});
        inst.insert(inst.end(), {"Value_" + std::to_string(k), meter.readings[k - 1].value});
    }
    if (!run(store, inst)) return false;

    if (!run(store, {"HSET", serial_status_key(meter.port, meter.meter), "VALUE", std::to_string(meter.comm_status)}))
        return false;

    if (meter.od_names.empty()) return true;
    Args od = {"HSET", meter_key(meter.port, meter.meter, "OdLsFile")};
    for (std::size_t k = 1; k <= meter.od_names.size(); ++k)
        od.insert(od.end(), {"File" + std::to_string(k), meter.od_names[k - 1]});
    return run(store, od);
}

}  // namespace

bool write_store_records(store::Connection &store, const UnitModel &unit) {
    for (int position = 0; position < kSerialPositions; ++position) {
        const int port = position / kMetersPerPort;
        const int meter = position % kMetersPerPort;
        if (!run(store, {"DEL", meter_key(port, meter, "SerNum"), meter_key(port, meter, "inst_info"),
                  serial_status_key(port, meter), meter_key(port, meter, "OdLsFile")}))
            return false;
    }
    for (const Meter &meter : unit.meters)
        if (!write_meter(store, meter)) return false;

    for (int slot = 0; slot < kEthernetSlots; ++slot)
        if (!run(store, {"DEL", ethernet_status_key(slot)})) return false;
    for (std::size_t slot = 0; slot < unit.eth_status.size(); ++slot)
        if (!run(store, {"HSET", ethernet_status_key(static_cast<int>(slot)), "VALUE", std::to_string(unit.eth_status[slot])}))
            return false;

    const Modem &modem = unit.modem;
    return run(store, {"DEL", "MODEM_DIAG_INFO"}) &&
           run(store, {"HSET", "MODEM_DIAG_INFO", "Status", modem.status, "SignalStrength", modem.signal_strength, "NwType",
                modem.network_type, "RegStatus", modem.registration, "Operator", modem.network_operator, "IMEI",
                modem.imei});
}

}  // namespace dcu::sim
