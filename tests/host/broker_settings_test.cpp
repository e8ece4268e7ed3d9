// The broker settings of dcuhost --mqtt: MQTT_INFO as cfgload publishes it,
// options in place of its fields, and the settings that can't be used.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "dcu/reqhandlers.h"
#include "host/broker_settings.hpp"
#include "tests/support/store_suite.hpp"

namespace {

using dcu::host::BrokerOverrides;
using dcu::host::BrokerSettings;

// The sixteen fields of MQTT_INFO as the loader publishes the sample unit.
const std::map<std::string, std::string> kSampleMqttInfo = {
    {"Enable", "1"},
    {"BrokerIp", "127.0.0.1"},
    {"SubTopic", "dcu/DCU-0001/sub"},
    {"PubTopic", "dcu/DCU-0001/resp"},
    {"BrokerPass", "mqtt-secret"},
    {"BrokerUname", "dcu0001"},
    {"BrokerPort", "1883"},
    {"PubSec", "0"},
    {"PubMint", "15"},
    {"PubHr", "0"},
    {"DiagPubTopic", "dcu/DCU-0001/diag"},
    {"DiagTopicEnable", "1"},
    {"CmdSubTopic", "dcu/DCU-0001/cmd"},
    {"PerDataTopic", "dcu/DCU-0001/data"},
    {"EventPubTopic", "dcu/DCU-0001/event"},
    {"EventTopicEnable", "1"},
};

class BrokerSettingsTest : public dcu::test::StoreSuite {
protected:
    void SetUp() override {
        client_ = std::make_unique<dcu::test::StoreClient>(store().port());
        client_->flushall();
        ASSERT_EQ(redis_init("127.0.0.1", store().port()), 0);
    }
    void TearDown() override {
        redisFree(p_redis_handler);
        p_redis_handler = nullptr;
    }
    void mqtt_info(const std::map<std::string, std::string> &fields) {
        for (const auto &[field, value] : fields) client_->hset("MQTT_INFO", field, value);
    }
    static std::optional<BrokerSettings> settings(const BrokerOverrides &overrides, std::string *error) {
        error->clear();
        return dcu::host::broker_settings(overrides, error);
    }

    std::unique_ptr<dcu::test::StoreClient> client_;
};

// What MQTT_INFO and the options give; the rest has settings of its own.
struct Expected {
    std::string host;
    std::uint16_t port;
    std::string user, password, sub_topic, pub_topic, client_id;
};

void expect_settings(const BrokerSettings &s, const Expected &expected) {
    EXPECT_EQ(s.host, expected.host);
    EXPECT_EQ(s.port, expected.port);
    EXPECT_EQ(s.user, expected.user);
    EXPECT_EQ(s.password, expected.password);
    EXPECT_EQ(s.sub_topic, expected.sub_topic);
    EXPECT_EQ(s.pub_topic, expected.pub_topic);
    EXPECT_EQ(s.client_id, expected.client_id);
}

TEST_F(BrokerSettingsTest, ComeFromTheStoreWithOptionsInPlaceOfFields) {
    mqtt_info(kSampleMqttInfo);
    std::string error;
    auto from_store = settings({}, &error);
    ASSERT_TRUE(from_store) << error;
    expect_settings(*from_store, {"127.0.0.1", 1883, "dcu0001", "mqtt-secret", "dcu/DCU-0001/cmd",
                                  "dcu/DCU-0001/resp", ""});
    // Presence goes beside the answers unless a status topic is named.
    EXPECT_EQ(from_store->status_topic, "dcu/DCU-0001/resp/status");

    BrokerOverrides all;
    all.host = "broker.example";
    all.port = 8883;
    all.user = "other";
    all.password = "pw";
    all.sub_topic = "u/2/cmd";
    all.pub_topic = "u/2/resp";
    all.client_id = "unit-2";
    auto overridden = settings(all, &error);
    ASSERT_TRUE(overridden) << error;
    expect_settings(*overridden, {"broker.example", 8883, "other", "pw", "u/2/cmd", "u/2/resp", "unit-2"});

    // An empty user name given as an option: connect without credentials.
    BrokerOverrides anonymous;
    anonymous.user = "";
    ASSERT_TRUE(settings(anonymous, &error));
    EXPECT_EQ(settings(anonymous, &error)->user, "");

    // Options alone, with no MQTT_INFO, and with no store at all.
    client_->flushall();
    all.client_id.reset();
    ASSERT_TRUE(settings(all, &error)) << error;
    redisContext *connection = std::exchange(p_redis_handler, nullptr);
    auto without_store = settings(all, &error);
    p_redis_handler = connection;
    ASSERT_TRUE(without_store) << error;
    expect_settings(*without_store, {"broker.example", 8883, "other", "pw", "u/2/cmd", "u/2/resp", ""});
}

// BrokerPort is a 16-bit field published as a signed number.
TEST_F(BrokerSettingsTest, BrokerPortIsReadAsTheSixteenBitsItHolds) {
    struct Case {
        std::string stored;
        std::uint16_t port;  // 0: no port
    };
    const Case cases[] = {{"1883", 1883}, {"32767", 32767}, {"-32768", 32768}, {"-25536", 40000}, {"-1", 65535},
                          {"0", 0},       {"", 0},          {"18x", 0},        {"-32769", 0},     {"65536", 0}};
    for (const auto &c : cases) {
        client_->hset("MQTT_INFO", "BrokerPort", c.stored);
        EXPECT_EQ(dcu::host::settings_from_store().port, c.port) << c.stored;
    }
}

TEST_F(BrokerSettingsTest, SettingsThatCantBeUsedAreRefusedWithTheReason) {
    struct Case {
        std::map<std::string, std::string> fields;  // in place of the sample's
        std::string error;
    };
    const Case cases[] = {
        {{{"BrokerIp", ""}, {"CmdSubTopic", ""}},
         "missing broker settings: BrokerIp (--broker), CmdSubTopic (--sub-topic); set them in the store's MQTT_INFO "
         "or give the options"},
        {{{"BrokerPort", "-0"}, {"PubTopic", ""}},
         "missing broker settings: BrokerPort (--broker), PubTopic (--pub-topic); set them in the store's MQTT_INFO "
         "or give the options"},
        {{{"CmdSubTopic", "dcu/#/cmd"}}, "CmdSubTopic \"dcu/#/cmd\" is not a topic the broker accepts"},
        {{{"PubTopic", "dcu/+/resp"}}, "PubTopic \"dcu/+/resp\" is not a topic to publish on (no + or #)"},
        {{{"CmdSubTopic", "dcu/DCU-0001/#"}},
         "PubTopic \"dcu/DCU-0001/resp\" falls under CmdSubTopic \"dcu/DCU-0001/#\": the unit would receive its own "
         "answers as requests"},
        {{{"CmdSubTopic", "dcu/+/resp"}},
         "PubTopic \"dcu/DCU-0001/resp\" falls under CmdSubTopic \"dcu/+/resp\": the unit would receive its own "
         "answers as requests"},
    };
    for (const auto &c : cases) {
        client_->flushall();
        auto fields = kSampleMqttInfo;
        for (const auto &[field, value] : c.fields) fields[field] = value;
        mqtt_info(fields);
        std::string error;
        EXPECT_FALSE(settings({}, &error));
        EXPECT_EQ(error, c.error);
    }

    client_->flushall();
    std::string error;
    EXPECT_FALSE(settings({}, &error));
    EXPECT_EQ(error,
              "missing broker settings: BrokerIp (--broker), BrokerPort (--broker), CmdSubTopic (--sub-topic), "
              "PubTopic (--pub-topic); set them in the store's MQTT_INFO or give the options");
}

TEST(HostPort, IsAHostAndAPortFromOneTo65535) {
    EXPECT_EQ(dcu::host::parse_host_port("127.0.0.1:1883"), (std::pair<std::string, std::uint16_t>{"127.0.0.1", 1883}));
    EXPECT_EQ(dcu::host::parse_host_port("::1:65535"), (std::pair<std::string, std::uint16_t>{"::1", 65535}));
    for (const char *bad : {"127.0.0.1", ":1883", "host:", "host:0", "host:65536", "host:18x", "host:-1"})
        EXPECT_FALSE(dcu::host::parse_host_port(bad)) << bad;
}

}  // namespace
