#include "host/mqtt_link.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <utility>

#include "dcu/host_services.h"
#include "host/request_limits.hpp"

namespace dcu::host {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr seconds kFirstDelay{1};
constexpr seconds kMaxDelay{30};
constexpr int kKeepAliveSeconds = 60;
// How long one turn of the network loop may wait for traffic; a stop is
// noticed after at most this long (a signal usually cuts it short).
constexpr int kLoopTimeoutMs = 500;
// On the way out: how long answers still in flight may take to be
// acknowledged, and how long the broker may take to see the disconnect.
constexpr milliseconds kDrainTime{2000};
constexpr milliseconds kDisconnectTime{1000};
constexpr int kQos = 1;

const char *error_text(int result) {
    return result == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(result);
}

MqttLink &link_of(void *self) { return *static_cast<MqttLink *>(self); }

}  // namespace

MqttLink::MqttLink(BrokerSettings settings, RequestHandler on_request)
    : settings_(std::move(settings)), on_request_(std::move(on_request)) {
    mosquitto_lib_init();
    // A clean session: requests sent while the unit is away are not kept
    // for it, so it never answers a stale command late.
    client_ = mosquitto_new(settings_.client_id.empty() ? nullptr : settings_.client_id.c_str(), true, this);
    if (client_ == nullptr) {
        mosquitto_lib_cleanup();
        throw std::runtime_error("cannot make an MQTT client: " + std::string(std::strerror(errno)));
    }
    // An answer goes out as soon as it is made, not held back to be joined
    // with the next one (the head-end waits for it).
    mosquitto_int_option(client_, MOSQ_OPT_TCP_NODELAY, 1);
    if (!settings_.user.empty())
        mosquitto_username_pw_set(client_, settings_.user.c_str(),
                                  settings_.password.empty() ? nullptr : settings_.password.c_str());
    mosquitto_connect_callback_set(client_, on_connect);
    mosquitto_disconnect_callback_set(client_, on_disconnect);
    mosquitto_subscribe_callback_set(client_, on_subscribe);
    mosquitto_publish_callback_set(client_, on_publish);
    mosquitto_message_callback_set(client_, on_message);
}

MqttLink::~MqttLink() {
    mosquitto_destroy(client_);
    mosquitto_lib_cleanup();
}

void MqttLink::run(const StopSignals &stop) {
    stop_ = &stop;
    const char *host = settings_.host.c_str();
    const unsigned port = settings_.port;
    seconds delay{0};  // before the next attempt
    while (!stop.requested()) {
        if (delay.count() > 0) {
            if (stop.wait(delay)) break;
            dbg_log(0, "%-20s : Reconnecting to broker %s:%u after %lld s\n", "run()", host, port,
                    static_cast<long long>(delay.count()));
        } else {
            dbg_log(0, "%-20s : Connecting to broker %s:%u\n", "run()", host, port);
        }
        was_accepted_ = false;
        const int result = delay.count() > 0 ? mosquitto_reconnect(client_)
                                             : mosquitto_connect(client_, host, static_cast<int>(port),
                                                                 kKeepAliveSeconds);
        if (result == MOSQ_ERR_SUCCESS) serve_connection(stop);
        else dbg_log(0, "%-20s : Broker %s:%u not reachable: %s\n", "run()", host, port, error_text(result));
        // Back off while the broker stays away; start again from the first
        // delay after a connection it accepted.
        delay = was_accepted_ || delay.count() == 0 ? kFirstDelay : std::min(delay * 2, kMaxDelay);
    }
    finish();
}

// One turn of the network loop: reads requests (each handled in its
// callback), writes answers, keeps the connection alive. False once the
// connection has ended; a signal cutting the wait short is no end.
bool MqttLink::turn(int timeout_ms) {
    const int result = mosquitto_loop(client_, timeout_ms, 1);
    return result == MOSQ_ERR_SUCCESS || (result == MOSQ_ERR_ERRNO && errno == EINTR);
}

void MqttLink::serve_connection(const StopSignals &stop) {
    while (!stop.requested() && turn(kLoopTimeoutMs)) {
    }
}

void MqttLink::finish() {
    if (accepted_) {
        const auto drain_end = Clock::now() + kDrainTime;
        while (in_flight_ > 0 && accepted_ && Clock::now() < drain_end && turn(kLoopTimeoutMs / 5)) {
        }
        if (in_flight_ > 0)
            dbg_log(0, "%-20s : %zu answers not acknowledged by the broker\n", "finish()", in_flight_);
        mosquitto_disconnect(client_);
        const auto disconnect_end = Clock::now() + kDisconnectTime;
        while (accepted_ && Clock::now() < disconnect_end && turn(kLoopTimeoutMs / 5)) {
        }
    }
    if (accepted_) {
        accepted_ = false;
        dbg_log(0, "%-20s : Disconnected from broker %s:%u\n", "finish()", settings_.host.c_str(),
                static_cast<unsigned>(settings_.port));
    }
}

int MqttLink::publish(std::string_view answer) {
    const int result = mosquitto_publish(client_, nullptr, settings_.pub_topic.c_str(), static_cast<int>(answer.size()),
                                         answer.data(), kQos, false);
    if (result != MOSQ_ERR_SUCCESS) {
        dbg_log(0, "%-20s : Could not publish an answer of %zu bytes on %s: %s\n", "publish()", answer.size(),
                settings_.pub_topic.c_str(), error_text(result));
        return -1;
    }
    ++in_flight_;
    return 0;
}

void MqttLink::on_connect(mosquitto *client, void *self, int result) {
    MqttLink &link = link_of(self);
    const char *host = link.settings_.host.c_str();
    const unsigned port = link.settings_.port;
    if (result != 0) {
        dbg_log(0, "%-20s : Broker %s:%u refused the connection: %s\n", "on_connect()", host, port,
                mosquitto_connack_string(result));
        return;
    }
    link.accepted_ = link.was_accepted_ = true;
    dbg_log(0, "%-20s : Connected to broker %s:%u\n", "on_connect()", host, port);
    // The session is clean: the subscription is made again on every connection.
    const int subscribed = mosquitto_subscribe(client, nullptr, link.settings_.sub_topic.c_str(), kQos);
    if (subscribed != MOSQ_ERR_SUCCESS)
        dbg_log(0, "%-20s : Could not subscribe to %s: %s\n", "on_connect()", link.settings_.sub_topic.c_str(),
                error_text(subscribed));
}

void MqttLink::on_disconnect(mosquitto *, void *self, int result) {
    MqttLink &link = link_of(self);
    const bool was_connected = std::exchange(link.accepted_, false);
    const char *host = link.settings_.host.c_str();
    const unsigned port = link.settings_.port;
    if (result == 0) dbg_log(0, "%-20s : Disconnected from broker %s:%u\n", "on_disconnect()", host, port);
    else if (was_connected)
        dbg_log(0, "%-20s : Lost the broker %s:%u: %s\n", "on_disconnect()", host, port, error_text(result));
}

void MqttLink::on_subscribe(mosquitto *, void *self, int, int count, const int *granted_qos) {
    const MqttLink &link = link_of(self);
    const char *topic = link.settings_.sub_topic.c_str();
    // 0x80 in place of a QoS: the broker refused the subscription.
    if (count < 1 || granted_qos[0] > 2)
        dbg_log(0, "%-20s : Broker refused the subscription to %s\n", "on_subscribe()", topic);
    else dbg_log(0, "%-20s : Subscribed to %s (QoS %d)\n", "on_subscribe()", topic, granted_qos[0]);
}

void MqttLink::on_publish(mosquitto *, void *self, int) {
    MqttLink &link = link_of(self);
    if (link.in_flight_ > 0) --link.in_flight_;
}

void MqttLink::on_message(mosquitto *, void *self, const mosquitto_message *message) {
    MqttLink &link = link_of(self);
    // Requests read in the same turn as the stop are not started: each may
    // wait for a store that hangs, and the stop must not wait for them all.
    if (link.stop_ != nullptr && link.stop_->requested()) {
        dbg_log(0, "%-20s : Stopping: a request on %s was not answered\n", "on_message()", message->topic);
        return;
    }
    // A retained message is an old request replayed by the broker on every
    // subscription: answering it would repeat a command each time the unit
    // connects.
    if (message->retain) {
        // The topic is the sender's (under a wildcard CmdSubTopic): only its start is logged.
        dbg_log(0, "%-20s : Ignored a retained request on %s\n", "on_message()", echo_of(message->topic).c_str());
        return;
    }
    const std::string_view payload(static_cast<const char *>(message->payload),
                                   static_cast<std::size_t>(message->payloadlen));
    // Nothing may unwind through the client library's C frames.
    try {
        link.on_request_(payload);
    } catch (const std::exception &error) {
        dbg_log(0, "%-20s : Request of %zu bytes dropped: %s\n", "on_message()", payload.size(), error.what());
    }
}

}  // namespace dcu::host
