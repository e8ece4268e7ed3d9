// A head-end for the tests: an MQTT client on libmosquitto with its own
// network thread. It publishes requests at QoS 1 and collects every message
// of its subscriptions, with the time it arrived; it reconnects and
// subscribes again by itself when the broker comes back. It may speak
// MQTT 5 (requests with a Response Topic and Correlation Data) and TLS.
#pragma once

#include <mosquitto.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dcu::test {

struct ReceivedMessage {
    std::string topic;
    std::string payload;
    std::chrono::steady_clock::time_point arrived;
    bool retained = false;
    std::optional<std::string> correlation;  // MQTT 5 Correlation Data
};

struct ClientOptions {
    bool mqtt5 = false;
    // TLS when cafile is set; a client certificate when cert is.
    std::string cafile, cert, key;
};

class MqttClient {
public:
    MqttClient(std::uint16_t port, std::string user, std::string password, const ClientOptions &options = {});
    MqttClient(const MqttClient &) = delete;
    MqttClient &operator=(const MqttClient &) = delete;
    ~MqttClient();

    // Connects and waits for the broker's verdict: 0 when it accepted the
    // client, its CONNACK code when it refused, -1 when there was no answer.
    int connect(std::chrono::milliseconds within = std::chrono::seconds(10));
    // Waits until the broker has accepted the client count times in all
    // (more than once when it came back after going away); false at the deadline.
    bool wait_for_connections(int count, std::chrono::milliseconds within);
    // Subscribes at QoS 1 and waits for the broker's acknowledgement.
    void subscribe(const std::string &topic);
    void publish(const std::string &topic, std::string_view payload, bool retain = false);
    // An MQTT 5 request: the answer is asked for on response_topic, with
    // the correlation data copied (none when it is empty).
    void publish_request(const std::string &topic, std::string_view payload, const std::string &response_topic,
                         const std::string &correlation);
    // The same, and waits until the broker has taken the message (PUBACK).
    void publish_acknowledged(const std::string &topic, std::string_view payload, bool retain = false);

    // The next message received, or nothing at the deadline.
    std::optional<ReceivedMessage> next(std::chrono::milliseconds within);
    // The next count messages; fewer when the deadline passes first.
    std::vector<ReceivedMessage> take(std::size_t count, std::chrono::milliseconds within);

private:
    static void on_connect(mosquitto *client, void *self, int result, int flags, const mosquitto_property *props);
    static void on_subscribe(mosquitto *client, void *self, int mid, int count, const int *granted,
                             const mosquitto_property *props);
    static void on_publish(mosquitto *client, void *self, int mid, int reason, const mosquitto_property *props);
    int publish_message(const std::string &topic, std::string_view payload, bool retain,
                        const mosquitto_property *props = nullptr);
    static void on_message(mosquitto *client, void *self, const mosquitto_message *message,
                           const mosquitto_property *props);

    std::uint16_t port_;
    mosquitto *client_ = nullptr;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<int> verdict_;  // of the last connection attempt
    int connections_ = 0;  // accepted so far
    std::vector<std::string> topics_;
    std::vector<int> acknowledged_;  // message ids of subscriptions and publications
    std::deque<ReceivedMessage> received_;
};

}  // namespace dcu::test
