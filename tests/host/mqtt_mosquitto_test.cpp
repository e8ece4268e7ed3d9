// The MQTT suite against mosquitto.
#include "tests/host/mqtt_suite.hpp"

using dcu::test::MqttHost;

INSTANTIATE_TEST_SUITE_P(Mosquitto, MqttHost, ::testing::Values(dcu::test::kMosquitto),
                         dcu::test::broker_kind_name);
