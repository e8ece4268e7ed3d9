// The MQTT 3.1.1 suite of dcuhost --mqtt, written once and run against each
// kind of broker a utility may put in front of its fleet: mosquitto
// (host_mqtt_test) and RabbitMQ's MQTT adapter, which clusters across
// machines (host_mqtt_rabbitmq_test). A unit that passes it against both
// works against a broker service of either kind. Each binary instantiates
// the suite (mqtt_test.cpp) for its broker kind.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/host/support/background_program.hpp"
#include "tests/host/support/mqtt_client.hpp"
#include "tests/host/support/test_broker.hpp"
#include "tests/host/support/test_pki.hpp"
#include "tests/support/private_store.hpp"
#include "tests/support/store_suite.hpp"

namespace dcu::test {

// What differs between the kinds, as far as a unit can tell.
struct BrokerKind {
    const char *name;
    std::unique_ptr<TestBroker> (*make)(std::vector<BrokerAccount> accounts, const TestPki *pki);
    // The CONNACK code a client with wrong credentials gets, and the client
    // library's words for it.
    int refusal_code;
    const char *refusal_text;
    // When the will of a unit that hangs (keep-alive 5 s) is out at the
    // latest: brokers look at keep-alives in their own rhythm.
    std::chrono::milliseconds hung_will_within;
};

extern const BrokerKind kMosquitto;
extern const BrokerKind kRabbitMq;

std::string broker_kind_name(const ::testing::TestParamInfo<BrokerKind> &info);

class MqttHost : public StoreSuite, public ::testing::WithParamInterface<BrokerKind> {
protected:
    // The broker of the suite's kind is made and started by the first test
    // that needs it; the suite's end stops it.
    static void TearDownTestSuite();
    void SetUp() override;
    void TearDown() override;

    static const TestPki &pki();
    TestBroker &broker();
    StoreClient &store_client() { return *store_client_; }
    // dcuhost's options for the TLS listener, with the unit's certificate.
    std::vector<std::string> tls_options();
    // MQTT_INFO as cfgload publishes it: BrokerPort is a signed 16-bit field.
    void publish_mqtt_info();
    // The command line of dcuhost --mqtt with the store's settings and extra.
    static std::vector<std::string> host_command(const std::vector<std::string> &extra);
    // dcuhost --mqtt, once it has subscribed to the command topic.
    std::unique_ptr<BackgroundProgram> start_host(const std::vector<std::string> &extra = {},
                                                  const std::map<std::string, std::string> &env = {});
    // Stops dcuhost by signal: it disconnects cleanly, exits 0 and never
    // printed a password.
    static void stop_host(BackgroundProgram &host, int signal_number = SIGTERM);
    // The head-end, listening on the answer topic (over TLS on the TLS listener).
    std::unique_ptr<MqttClient> head_end(bool tls = false);
    std::unique_ptr<MqttClient> head_end_on(const std::vector<std::string> &topics);
    // What dcuhost prints for the same request on its command line.
    std::string command_line_answer(const std::vector<std::string> &words,
                                    const std::map<std::string, std::string> &env = {});

private:
    static std::map<std::string, std::unique_ptr<TestBroker>> &brokers();
    std::unique_ptr<StoreClient> store_client_;
};

}  // namespace dcu::test
