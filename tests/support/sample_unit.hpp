// The bundled sample unit (examples/sample-unit.json) set up as the unit has
// it after its start, for the suites that run a whole unit: its record
// encoded by cfgtool and published by cfgload, seven meters written by
// metersim (seed 2024), under a scratch DCU_ROOT and a private store.
#pragma once

#include <cstdint>
#include <string>

#include "tests/support/temp_dir.hpp"

namespace dcu::test::sample_unit {

// What the record's MQTT_INFO says of the head-end link.
inline constexpr const char *kBrokerUser = "dcu0001";
inline constexpr const char *kBrokerPassword = "mqtt-secret";
inline constexpr const char *kCmdTopic = "dcu/DCU-0001/cmd";
inline constexpr const char *kRespTopic = "dcu/DCU-0001/resp";

// Loads the unit under root into the store on store_port. Empty when every
// step went; otherwise the step that failed and what it said.
std::string load(const TempDir &root, std::uint16_t store_port);

// The serial number metersim gave port 0 meter 1 (directory meter_id_1),
// "?" when the store has none.
std::string meter_serial(std::uint16_t store_port);

}  // namespace dcu::test::sample_unit
