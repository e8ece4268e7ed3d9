// The status view: the meters (serial number, port and slot, communication
// status, their newest record) and the modem. The library's answers give
// the meter list, the communication status and the modem; the store's
// serial-number records give each meter's place, and the meters' data files
// the time of their newest record.
#pragma once

#include <string>

namespace dcu::web {

// The status as the page's JSON text.
std::string unit_status_json();

}  // namespace dcu::web
