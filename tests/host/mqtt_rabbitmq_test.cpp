// The MQTT suite against RabbitMQ's MQTT adapter (rabbitmq_mqtt, 3.1.1).
#include "tests/host/mqtt_suite.hpp"

using dcu::test::MqttHost;

INSTANTIATE_TEST_SUITE_P(RabbitMq, MqttHost, ::testing::Values(dcu::test::kRabbitMq),
                         dcu::test::broker_kind_name);
