#include "host/broker_settings.hpp"

#include <mosquitto.h>

#include <charconv>
#include <vector>

#include "common/store.hpp"
#include "common/unit_keys.hpp"

namespace dcu::host {

namespace {

// The fields of MQTT_INFO that dcuhost uses, in the order it asks for them.
enum Field : std::size_t { kBrokerIp, kBrokerPort, kBrokerUname, kBrokerPass, kCmdSubTopic, kPubTopic };

// BrokerPort holds a 16-bit field of the configuration record published as
// a signed number, so ports above 32767 appear negative: read them back as
// the port they are. 0, and anything that is not such a number, is no port.
std::uint16_t port_of(std::string_view text) {
    int value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size() || value < -32768 || value > 65535) return 0;
    return static_cast<std::uint16_t>(value < 0 ? value + 65536 : value);
}

template <typename T>
void apply(const std::optional<T> &override_value, T *setting) {
    if (override_value) *setting = *override_value;
}

}  // namespace

std::optional<std::pair<std::string, std::uint16_t>> parse_host_port(std::string_view text) {
    const auto colon = text.rfind(':');
    if (colon == std::string_view::npos || colon == 0) return std::nullopt;
    unsigned port = 0;
    const char *begin = text.data() + colon + 1, *end = text.data() + text.size();
    auto [stop, ec] = std::from_chars(begin, end, port);
    if (ec != std::errc{} || stop != end || port == 0 || port > 65535) return std::nullopt;
    return std::pair{std::string(text.substr(0, colon)), static_cast<std::uint16_t>(port)};
}

BrokerSettings settings_from_store() {
    BrokerSettings settings;
    namespace keys = unit_keys;
    const store::Reply reply =
        store::command("HMGET %s %s %s %s %s %s %s", keys::kMqttInfo, keys::kBrokerIpField, keys::kBrokerPortField,
                       keys::kBrokerUserField, keys::kBrokerPasswordField, keys::kCommandTopicField,
                       keys::kAnswerTopicField);
    auto text = [&reply](Field field) { return std::string(reply.element_text(field).value_or("")); };
    settings.host = text(kBrokerIp);
    settings.port = port_of(text(kBrokerPort));
    settings.user = text(kBrokerUname);
    settings.password = text(kBrokerPass);
    settings.sub_topic = text(kCmdSubTopic);
    settings.pub_topic = text(kPubTopic);
    return settings;
}

std::optional<BrokerSettings> broker_settings(const BrokerOverrides &overrides, std::string *error) {
    BrokerSettings settings = settings_from_store();
    apply(overrides.host, &settings.host);
    apply(overrides.port, &settings.port);
    apply(overrides.user, &settings.user);
    apply(overrides.password, &settings.password);
    apply(overrides.sub_topic, &settings.sub_topic);
    apply(overrides.pub_topic, &settings.pub_topic);
    apply(overrides.client_id, &settings.client_id);
    settings.keepalive = overrides.keepalive;
    settings.mqtt_version = overrides.mqtt_version;
    settings.tls = overrides.tls;
    settings.reconnect_jitter = overrides.reconnect_jitter;

    std::vector<std::string> missing;
    if (settings.host.empty()) missing.emplace_back("BrokerIp (--broker)");
    if (settings.port == 0) missing.emplace_back("BrokerPort (--broker)");
    if (settings.sub_topic.empty()) missing.emplace_back("CmdSubTopic (--sub-topic)");
    if (settings.pub_topic.empty()) missing.emplace_back("PubTopic (--pub-topic)");
    if (!missing.empty()) {
        *error = "missing broker settings:";
        for (std::size_t i = 0; i < missing.size(); ++i) *error += (i ? ", " : " ") + missing[i];
        *error += "; set them in the store's MQTT_INFO or give the options";
        return std::nullopt;
    }
    if (mosquitto_sub_topic_check(settings.sub_topic.c_str()) != MOSQ_ERR_SUCCESS) {
        *error = "CmdSubTopic \"" + settings.sub_topic + "\" is not a topic the broker accepts";
        return std::nullopt;
    }
    if (mosquitto_pub_topic_check(settings.pub_topic.c_str()) != MOSQ_ERR_SUCCESS) {
        *error = "PubTopic \"" + settings.pub_topic + "\" is not a topic to publish on (no + or #)";
        return std::nullopt;
    }
    // Answers carry TYPE and SEQ_NUM as requests do: a unit that heard its
    // own answers would answer them again without end.
    bool hears_own_answers = false;
    mosquitto_topic_matches_sub(settings.sub_topic.c_str(), settings.pub_topic.c_str(), &hears_own_answers);
    if (hears_own_answers) {
        *error = "PubTopic \"" + settings.pub_topic + "\" falls under CmdSubTopic \"" + settings.sub_topic +
                 "\": the unit would receive its own answers as requests";
        return std::nullopt;
    }
    settings.status_topic = overrides.status_topic.value_or(settings.pub_topic + "/status");
    if (mosquitto_pub_topic_check(settings.status_topic.c_str()) != MOSQ_ERR_SUCCESS) {
        *error = "status topic \"" + settings.status_topic + "\" is not a topic to publish on (no + or #)";
        return std::nullopt;
    }
    bool hears_own_state = false;
    mosquitto_topic_matches_sub(settings.sub_topic.c_str(), settings.status_topic.c_str(), &hears_own_state);
    if (hears_own_state || settings.status_topic == settings.pub_topic) {
        *error = "status topic \"" + settings.status_topic + "\" must be a topic of its own, neither under " +
                 "CmdSubTopic \"" + settings.sub_topic + "\" nor PubTopic itself";
        return std::nullopt;
    }
    return settings;
}

}  // namespace dcu::host
