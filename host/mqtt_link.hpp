// dcuhost's link to the head-end over an MQTT broker: requests arrive on
// the unit's CmdSubTopic, answers leave on its PubTopic at QoS 1 (or, in
// MQTT 5, on the Response Topic a request names, with its Correlation
// Data), and a retained state message on the status topic says whether the
// unit is there (host/presence.hpp).
//
// Everything happens on the thread that calls run(): the network loop, the
// request callback (and so every handler call, one at a time) and the
// publishing of answers. When the broker goes away the link reconnects
// after waits drawn at random (host/reconnect_backoff.hpp), so that a fleet
// does not knock at its broker all in step, and subscribes again on every
// connection. With TLS the broker is verified by the context handed in.
#pragma once

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "host/broker_settings.hpp"
#include "host/presence.hpp"
#include "host/reconnect_backoff.hpp"
#include "host/stop_signals.hpp"
#include "host/tls_context.hpp"

namespace dcu::host {

class MqttLink {
public:
    // Called with the payload of each request, on run()'s thread.
    using RequestHandler = std::function<void(std::string_view payload)>;
    // Called instead for a request that is not to be carried out, with why;
    // the payload is empty when it was too big to be read at all.
    using RefusalHandler = std::function<void(std::string_view payload, const std::string &reason)>;
    // The unit's serial number for the state messages, asked before each
    // connection attempt.
    using SerialNumberSource = std::function<std::string()>;

    MqttLink(BrokerSettings settings, TlsContext tls, RequestHandler on_request, RefusalHandler on_refusal,
             SerialNumberSource serial_number);
    MqttLink(const MqttLink &) = delete;
    MqttLink &operator=(const MqttLink &) = delete;
    ~MqttLink();

    // Connects, serves requests and reconnects until a stop is asked for;
    // then says OFFLINE, hands over the answers still in flight (for a short
    // while) and disconnects cleanly.
    void run(const StopSignals &stop);

    // Publishes one answer, QoS 1, not retained, where the request being
    // answered wants it. 0 when the client library took it, -1 when it did
    // not (logged).
    int publish(std::string_view answer);

private:
    // Where the answer to the request being handled goes.
    struct Route {
        std::string topic;
        std::string correlation;  // MQTT 5 Correlation Data, copied back
        bool has_correlation = false;
    };

    // The client library's callbacks: nothing thrown leaves them, since it
    // would unwind through the library's C frames.
    static void on_connect(mosquitto *client, void *self, int result, int flags,
                           const mosquitto_property *props) noexcept;
    static void on_disconnect(mosquitto *client, void *self, int result, const mosquitto_property *props) noexcept;
    static void on_subscribe(mosquitto *client, void *self, int mid, int count, const int *granted_qos,
                             const mosquitto_property *props) noexcept;
    static void on_publish(mosquitto *client, void *self, int mid, int reason,
                           const mosquitto_property *props) noexcept;
    static void on_message(mosquitto *client, void *self, const mosquitto_message *message,
                           const mosquitto_property *props) noexcept;
    static void on_log(mosquitto *client, void *self, int level, const char *text) noexcept;

    int connect();
    void prepare_presence();
    int publish_state(std::string_view state);
    bool turn(int timeout_ms);
    void serve_connection(const StopSignals &stop);
    void finish();
    void handle(const mosquitto_message &message, const mosquitto_property *props);

    BrokerSettings settings_;
    TlsContext tls_;
    RequestHandler on_request_;
    RefusalHandler on_refusal_;
    SerialNumberSource serial_number_;
    mosquitto *client_ = nullptr;
    mosquitto_property *connect_properties_ = nullptr;
    Route route_;
    ReconnectBackoff backoff_;
    std::chrono::steady_clock::time_point accepted_at_;  // of the current connection
    Presence presence_;          // of the current connection (or the next attempt)
    unsigned long accepted_count_ = 0;  // connections the broker accepted since the start
    bool accepted_ = false;      // the broker accepted the current connection
    bool was_accepted_ = false;  // ... at some time since the last attempt
    std::size_t in_flight_ = 0;  // messages published and not yet acknowledged
    const StopSignals *stop_ = nullptr;  // while run() serves
};

// The Maximum Packet Size dcuhost announces in an MQTT 5 CONNECT: the
// request limit and room for what a PUBLISH carries beside its payload.
std::uint32_t maximum_packet_size();

}  // namespace dcu::host
