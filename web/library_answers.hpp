// The library's own answers, read back: what the status view and the
// catalogue take from them instead of reading the store or the data tree
// themselves (the meter list, the meters' files of each kind, the
// communication status, the modem).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "web/selection_views.hpp"

namespace dcu::web::library_answers {

// GET_METER_SER_LIST: the serial numbers, in position order.
struct MeterList {
    bool success = false;  // CMD_STATUS "SUCCESS"
    std::vector<std::string> serials;
};
MeterList meter_list();

// The meter's data files of one kind as the listings name them, each as a
// path under the data root ("meter_id_1/billing"; the on-demand load-survey
// files, listed from the store, under "meter_id_1/od/"). For the
// instantaneous kind there are none.
std::vector<std::string> data_files(const std::string &serial, DataKind kind);

// GET_COMMN_STATUS_MESSAGE: the status values of each serial port's meters,
// position k being meter k; empty lists for an Ethernet unit.
struct CommStatus {
    bool success = false;
    bool serial_ports = false;  // the unit's meters are on its serial ports
    std::vector<std::vector<std::string>> ports;  // ports[p][m]: the status code's text
};
CommStatus comm_status();

// GET_MODEM_DIAG_MESSAGE: the modem's fields, in the answer's order (the
// first "Status", the sequence number, left out).
struct Modem {
    bool success = false;
    std::vector<std::pair<std::string, std::string>> fields;
};
Modem modem();

}  // namespace dcu::web::library_answers
