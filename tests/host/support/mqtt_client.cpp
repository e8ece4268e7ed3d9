#include "tests/host/support/mqtt_client.hpp"

#include <mqtt_protocol.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

namespace dcu::test {

namespace {

MqttClient &client_of(void *self) { return *static_cast<MqttClient *>(self); }

void check(int result, const char *what) {
    if (result != MOSQ_ERR_SUCCESS) throw std::runtime_error(std::string(what) + ": " + mosquitto_strerror(result));
}

}  // namespace

MqttClient::MqttClient(std::uint16_t port, std::string user, std::string password, const ClientOptions &options)
    : port_(port) {
    mosquitto_lib_init();
    client_ = mosquitto_new(nullptr, true, this);
    if (client_ == nullptr) throw std::runtime_error("mosquitto_new failed");
    if (options.mqtt5) mosquitto_int_option(client_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    if (!options.cafile.empty())
        check(mosquitto_tls_set(client_, options.cafile.c_str(), nullptr,
                                options.cert.empty() ? nullptr : options.cert.c_str(),
                                options.key.empty() ? nullptr : options.key.c_str(), nullptr),
              "mosquitto_tls_set");
    if (!user.empty())
        check(mosquitto_username_pw_set(client_, user.c_str(), password.empty() ? nullptr : password.c_str()),
              "mosquitto_username_pw_set");
    mosquitto_int_option(client_, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_reconnect_delay_set(client_, 1, 1, false);
    mosquitto_connect_v5_callback_set(client_, on_connect);
    mosquitto_subscribe_v5_callback_set(client_, on_subscribe);
    mosquitto_publish_v5_callback_set(client_, on_publish);
    mosquitto_message_v5_callback_set(client_, on_message);
    check(mosquitto_loop_start(client_), "mosquitto_loop_start");
}

MqttClient::~MqttClient() {
    mosquitto_disconnect(client_);
    mosquitto_loop_stop(client_, true);
    mosquitto_destroy(client_);
    mosquitto_lib_cleanup();
}

int MqttClient::connect(std::chrono::milliseconds within) {
    {
        std::lock_guard lock(mutex_);
        verdict_.reset();
    }
    if (mosquitto_connect_async(client_, "127.0.0.1", static_cast<int>(port_), 60) != MOSQ_ERR_SUCCESS) return -1;
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, within, [this] { return verdict_.has_value(); })) return -1;
    const int verdict = *verdict_;
    lock.unlock();
    // A refused client stops trying.
    if (verdict != 0) mosquitto_disconnect(client_);
    return verdict;
}

bool MqttClient::wait_for_connections(int count, std::chrono::milliseconds within) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, within, [&] { return connections_ >= count; });
}

void MqttClient::subscribe(const std::string &topic) {
    {
        std::lock_guard lock(mutex_);
        topics_.push_back(topic);
    }
    int mid = 0;
    check(mosquitto_subscribe(client_, &mid, topic.c_str(), 1), "mosquitto_subscribe");
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, std::chrono::seconds(10), [&] {
            return std::find(acknowledged_.begin(), acknowledged_.end(), mid) != acknowledged_.end();
        }))
        throw std::runtime_error("no SUBACK for " + topic);
}

int MqttClient::publish_message(const std::string &topic, std::string_view payload, bool retain,
                                const mosquitto_property *props) {
    int mid = 0;
    const int size = static_cast<int>(payload.size());
    check(mosquitto_publish_v5(client_, &mid, topic.c_str(), size, payload.data(), 1, retain, props),
          "mosquitto_publish");
    return mid;
}

void MqttClient::publish_request(const std::string &topic, std::string_view payload,
                                 const std::string &response_topic, const std::string &correlation) {
    mosquitto_property *props = nullptr;
    mosquitto_property_add_string(&props, MQTT_PROP_RESPONSE_TOPIC, response_topic.c_str());
    if (!correlation.empty())
        mosquitto_property_add_binary(&props, MQTT_PROP_CORRELATION_DATA, correlation.data(),
                                      static_cast<std::uint16_t>(correlation.size()));
    try {
        publish_message(topic, payload, false, props);
    } catch (...) {
        mosquitto_property_free_all(&props);
        throw;
    }
    mosquitto_property_free_all(&props);
}

void MqttClient::publish(const std::string &topic, std::string_view payload, bool retain) {
    publish_message(topic, payload, retain);
}

void MqttClient::publish_acknowledged(const std::string &topic, std::string_view payload, bool retain) {
    const int mid = publish_message(topic, payload, retain);
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, std::chrono::seconds(10), [&] {
            return std::find(acknowledged_.begin(), acknowledged_.end(), mid) != acknowledged_.end();
        }))
        throw std::runtime_error("no PUBACK on " + topic);
}

std::optional<ReceivedMessage> MqttClient::next(std::chrono::milliseconds within) {
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, within, [this] { return !received_.empty(); })) return std::nullopt;
    ReceivedMessage message = std::move(received_.front());
    received_.pop_front();
    return message;
}

std::vector<ReceivedMessage> MqttClient::take(std::size_t count, std::chrono::milliseconds within) {
    const auto deadline = std::chrono::steady_clock::now() + within;
    std::vector<ReceivedMessage> messages;
    while (messages.size() < count) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        auto message = next(std::max(left, std::chrono::milliseconds(0)));
        if (!message) break;
        messages.push_back(std::move(*message));
    }
    return messages;
}

void MqttClient::on_connect(mosquitto *client, void *self, int result, int, const mosquitto_property *) {
    MqttClient &test_client = client_of(self);
    std::lock_guard lock(test_client.mutex_);
    test_client.verdict_ = result;
    if (result == 0) ++test_client.connections_;
    // Clean session: the subscriptions are made again on every connection.
    if (result == 0)
        for (const auto &topic : test_client.topics_) mosquitto_subscribe(client, nullptr, topic.c_str(), 1);
    test_client.changed_.notify_all();
}

void MqttClient::on_subscribe(mosquitto *, void *self, int mid, int, const int *, const mosquitto_property *) {
    MqttClient &test_client = client_of(self);
    std::lock_guard lock(test_client.mutex_);
    test_client.acknowledged_.push_back(mid);
    test_client.changed_.notify_all();
}

void MqttClient::on_publish(mosquitto *, void *self, int mid, int, const mosquitto_property *) {
    MqttClient &test_client = client_of(self);
    std::lock_guard lock(test_client.mutex_);
    test_client.acknowledged_.push_back(mid);
    test_client.changed_.notify_all();
}

void MqttClient::on_message(mosquitto *, void *self, const mosquitto_message *message,
                            const mosquitto_property *props) {
    MqttClient &test_client = client_of(self);
    ReceivedMessage received{message->topic,
                             std::string(static_cast<const char *>(message->payload),
                                         static_cast<std::size_t>(message->payloadlen)),
                             std::chrono::steady_clock::now(), message->retain, std::nullopt};
    void *correlation = nullptr;
    std::uint16_t size = 0;
    if (mosquitto_property_read_binary(props, MQTT_PROP_CORRELATION_DATA, &correlation, &size, false) != nullptr) {
        received.correlation = std::string(static_cast<const char *>(correlation), size);
        std::free(correlation);
    }
    std::lock_guard lock(test_client.mutex_);
    test_client.received_.push_back(std::move(received));
    test_client.changed_.notify_all();
}

}  // namespace dcu::test
