// Where dcuhost --mqtt meets the head-end: the broker's address, the
// credentials and the two topics. The unit's processes read them from the
// store's MQTT_INFO hash, where cfgload publishes them; options given to
// dcuhost (or its settings file) take their place one by one. What
// MQTT_INFO has no field for (TLS, the MQTT version, the keep-alive, the
// status topic, the reconnection jitter) comes from the options alone.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "host/tls_context.hpp"

namespace dcu::host {

// MQTT protocol levels as the CONNECT packet names them.
inline constexpr int kMqtt311 = 4;
inline constexpr int kMqtt5 = 5;
inline constexpr int kDefaultKeepAlive = 60;
// The client library refuses shorter keep-alive periods.
inline constexpr int kMinKeepAlive = 5;

struct BrokerSettings {
    std::string host;           // BrokerIp
    std::uint16_t port = 0;     // BrokerPort
    std::string user;           // BrokerUname; empty: connect without credentials
    std::string password;       // BrokerPass
    std::string sub_topic;      // CmdSubTopic: requests come in here
    std::string pub_topic;      // PubTopic: answers go out here
    std::string client_id;      // empty: the client library makes one up
    std::string status_topic;   // presence; PubTopic + "/status" unless named
    int keepalive = kDefaultKeepAlive;  // seconds
    int mqtt_version = kMqtt311;
    TlsOptions tls;             // TLS when tls.wanted()
    bool reconnect_jitter = true;  // false: waits of exactly 1, 2, 4 ... 30 s (--no-jitter)
};

// What the options say; each given one replaces the store's value.
struct BrokerOverrides {
    std::optional<std::string> host;
    std::optional<std::uint16_t> port;
    std::optional<std::string> user;
    std::optional<std::string> password;
    std::optional<std::string> sub_topic;
    std::optional<std::string> pub_topic;
    std::optional<std::string> client_id;
    std::optional<std::string> status_topic;
    int keepalive = kDefaultKeepAlive;
    int mqtt_version = kMqtt311;
    TlsOptions tls;
    bool reconnect_jitter = true;
};

// "HOST:PORT" with a port from 1 to 65535.
std::optional<std::pair<std::string, std::uint16_t>> parse_host_port(std::string_view text);

// MQTT_INFO as the store holds it now (fields it lacks stay empty, port 0);
// nothing from a store that is not connected.
BrokerSettings settings_from_store();

// The store's settings with the overrides applied, checked: an address, a
// port and both topics present, topics that the broker accepts, and a
// request topic that receives neither the answers nor the state messages. Nothing, with the
// reason in *error, when they can't be used.
std::optional<BrokerSettings> broker_settings(const BrokerOverrides &overrides, std::string *error);

}  // namespace dcu::host
