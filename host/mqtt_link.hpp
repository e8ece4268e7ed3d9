// dcuhost's link to the head-end over an MQTT broker: requests arrive on
// the unit's CmdSubTopic, answers leave on its PubTopic at QoS 1.
//
// Everything happens on the thread that calls run(): the network loop, the
// request callback (and so every handler call, one at a time) and the
// publishing of answers. When the broker goes away the link reconnects with
// a back-off of 1 s doubling up to 30 s, and subscribes again on every
// connection.
#pragma once

#include <mosquitto.h>

#include <cstddef>
#include <functional>
#include <string_view>

#include "host/broker_settings.hpp"
#include "host/stop_signals.hpp"

namespace dcu::host {

class MqttLink {
public:
    // Called with the payload of each request, on run()'s thread.
    using RequestHandler = std::function<void(std::string_view payload)>;

    MqttLink(BrokerSettings settings, RequestHandler on_request);
    MqttLink(const MqttLink &) = delete;
    MqttLink &operator=(const MqttLink &) = delete;
    ~MqttLink();

    // Connects, serves requests and reconnects until a stop is asked for;
    // then hands over the answers still in flight (for a short while) and
    // disconnects cleanly.
    void run(const StopSignals &stop);

    // Publishes one answer on PubTopic, QoS 1, not retained. 0 when the
    // client library took it, -1 when it did not (logged).
    int publish(std::string_view answer);

private:
    static void on_connect(mosquitto *client, void *self, int result);
    static void on_disconnect(mosquitto *client, void *self, int result);
    static void on_subscribe(mosquitto *client, void *self, int mid, int count, const int *granted_qos);
    static void on_publish(mosquitto *client, void *self, int mid);
    static void on_message(mosquitto *client, void *self, const mosquitto_message *message);

    bool turn(int timeout_ms);
    void serve_connection(const StopSignals &stop);
    void finish();

    BrokerSettings settings_;
    RequestHandler on_request_;
    mosquitto *client_ = nullptr;
    bool accepted_ = false;      // the broker accepted the current connection
    bool was_accepted_ = false;  // ... at some time since the last attempt
    std::size_t in_flight_ = 0;  // answers published and not yet acknowledged
    const StopSignals *stop_ = nullptr;  // while run() serves
};

}  // namespace dcu::host
