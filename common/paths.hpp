// The one place that knows the unit's fixed paths and the store address.
//
// DCU_ROOT, when set, is put in front of every absolute path the programs use,
// so a test or a demo can run a whole unit inside a scratch directory.
// DCU_REDIS_PORT overrides the store port. Unset, the paths and the port are
// exactly the unit's.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace dcu::paths {

inline constexpr std::string_view kDataRoot = "/usr/tev/data/DlmsData";
inline constexpr std::string_view kConfigFile = "/usr/tev/config/dlms_api_config.cfg";
inline constexpr std::string_view kLogDir = "/usr/tev/log";
inline constexpr std::string_view kLoaderLogName = "cfgload.log";
inline constexpr std::string_view kWebRoot = "/srv/www/htdocs";
inline constexpr std::string_view kEventSelection = "/srv/www/htdocs/user_event_obis_det.json";
inline constexpr std::string_view kBillSelection = "/srv/www/htdocs/user_bill_obis_det.json";
inline constexpr std::string_view kDpSelection = "/srv/www/htdocs/user_dp_obis_det.json";
inline constexpr std::string_view kLsSelection = "/srv/www/htdocs/user_ls_obis_det.json";
inline constexpr std::string_view kInstSelection = "/srv/www/htdocs/user_inst_obis_det.json";
inline constexpr std::string_view kInterfaces = "/etc/network/interfaces";
inline constexpr std::string_view kInterfacesNew = "/etc/network/interfaces1";

// Serial devices of the board, one family each; the port number follows the
// prefix ("/dev/ttyS" and 0 make /dev/ttyS0).
inline constexpr std::string_view kTtySPrefix = "/dev/ttyS";
inline constexpr std::string_view kTtyUsbPrefix = "/dev/ttyUSB";
inline constexpr std::string_view kTtyAcmPrefix = "/dev/ttyACM";

inline constexpr std::string_view kStoreAddress = "127.0.0.1";
inline constexpr std::uint16_t kStorePort = 6379;

// The prefix from DCU_ROOT, without a trailing slash; empty when unset.
std::string root();

// An absolute unit path as this process must open it: DCU_ROOT + path.
std::string on_unit(std::string_view absolute_path);

// The store port: DCU_REDIS_PORT when it holds a valid port number, else 6379.
std::uint16_t store_port();

}  // namespace dcu::paths
