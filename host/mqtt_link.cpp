#include "host/mqtt_link.hpp"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <stdexcept>
#include <utility>

#include "dcu/host_services.h"
#include "host/request_limits.hpp"

namespace dcu::host {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How long one turn of the network loop may wait for traffic; a stop is
// noticed after at most this long (a signal usually cuts it short).
constexpr int kLoopTimeoutMs = 500;
// On the way out: how long answers still in flight may take to be
// acknowledged, and how long the broker may take to see the disconnect.
constexpr milliseconds kDrainTime{2000};
constexpr milliseconds kDisconnectTime{1000};
constexpr int kQos = 1;

// What a PUBLISH carries beside its payload: a fixed header of up to 5
// bytes, the topic (2 + its length), the packet id (2), the properties'
// length (up to 4) and the properties, of which a request may bring a
// Response Topic and Correlation Data (3 + their lengths each), a content
// type and user properties. 4 KiB covers a request's topic, response topic
// and correlation data of together about 4000 bytes, far above what a
// head-end uses (the unit's own topics are at most 63 bytes); a bigger
// packet is dropped by the broker instead of reaching the unit.
constexpr std::uint32_t kPacketHeadroom = 4096;

const char *error_text(int result) {
    return result == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(result);
}

// MQTT 5 reason codes start at 128; below are the CONNACK codes of 3.1.1.
const char *refusal_text(int result) {
    return result < 128 ? mosquitto_connack_string(result) : mosquitto_reason_string(result);
}

MqttLink &link_of(void *self) { return *static_cast<MqttLink *>(self); }

// Runs a callback's work so that nothing unwinds through the client
// library's C frames: whatever it throws, a standard exception or anything
// else, ends here and is reported with what can be said of it.
template <typename Work, typename Report>
void without_unwinding(Work &&work, Report &&report) noexcept {
    try {
        work();
    } catch (const std::exception &error) {
        report(error.what());
    } catch (...) {
        report("an exception of no standard type");
    }
}

// The report of a callback that has nothing of its own to say.
auto reported_by(const char *fun_name) {
    return [fun_name](const char *what) { dbg_log(0, "%-20s : Callback cut short: %s\n", fun_name, what); };
}

struct PropertiesFree {
    void operator()(mosquitto_property *properties) const noexcept { mosquitto_property_free_all(&properties); }
};
using Properties = std::unique_ptr<mosquitto_property, PropertiesFree>;

struct MallocFree {
    void operator()(void *memory) const noexcept { std::free(memory); }
};

}  // namespace

std::uint32_t maximum_packet_size() { return static_cast<std::uint32_t>(kMaxRequestBytes) + kPacketHeadroom; }

MqttLink::MqttLink(BrokerSettings settings, TlsContext tls, RequestHandler on_request, RefusalHandler on_refusal,
                   SerialNumberSource serial_number)
    : settings_(std::move(settings)),
      tls_(std::move(tls)),
      on_request_(std::move(on_request)),
      on_refusal_(std::move(on_refusal)),
      serial_number_(std::move(serial_number)),
      backoff_(settings_.reconnect_jitter ? ReconnectBackoff::Jitter::full : ReconnectBackoff::Jitter::none,
               process_uniform_source()) {
    route_.topic = settings_.pub_topic;
    mosquitto_lib_init();
    // A clean session: requests sent while the unit is away are not kept
    // for it, so it never answers a stale command late.
    client_ = mosquitto_new(settings_.client_id.empty() ? nullptr : settings_.client_id.c_str(), true, this);
    if (client_ == nullptr) {
        mosquitto_lib_cleanup();
        throw std::runtime_error("cannot make an MQTT client: " + std::string(std::strerror(errno)));
    }
    mosquitto_int_option(client_, MOSQ_OPT_PROTOCOL_VERSION,
                         settings_.mqtt_version == kMqtt5 ? MQTT_PROTOCOL_V5 : MQTT_PROTOCOL_V311);
    if (settings_.mqtt_version == kMqtt5)
        mosquitto_property_add_int32(&connect_properties_, MQTT_PROP_MAXIMUM_PACKET_SIZE, maximum_packet_size());
    if (tls_) {
        // Our own context as it is: it verifies the chain and the name we
        // check (host/tls_context.cpp), which the library's defaults would
        // replace by the name it connects to.
        mosquitto_int_option(client_, MOSQ_OPT_SSL_CTX_WITH_DEFAULTS, 0);
        mosquitto_void_option(client_, MOSQ_OPT_SSL_CTX, tls_.get());
    }
    // An answer goes out as soon as it is made, not held back to be joined
    // with the next one (the head-end waits for it).
    mosquitto_int_option(client_, MOSQ_OPT_TCP_NODELAY, 1);
    if (!settings_.user.empty())
        mosquitto_username_pw_set(client_, settings_.user.c_str(),
                                  settings_.password.empty() ? nullptr : settings_.password.c_str());
    mosquitto_connect_v5_callback_set(client_, on_connect);
    mosquitto_disconnect_v5_callback_set(client_, on_disconnect);
    mosquitto_subscribe_v5_callback_set(client_, on_subscribe);
    mosquitto_publish_v5_callback_set(client_, on_publish);
    mosquitto_message_v5_callback_set(client_, on_message);
    mosquitto_log_callback_set(client_, on_log);
}

MqttLink::~MqttLink() {
    mosquitto_property_free_all(&connect_properties_);
    mosquitto_destroy(client_);
    mosquitto_lib_cleanup();
}

void MqttLink::run(const StopSignals &stop) {
    stop_ = &stop;
    const char *host = settings_.host.c_str();
    const unsigned port = settings_.port;
    // The first attempt goes out at once; every later one after a wait.
    for (bool first = true; !stop.requested(); first = false) {
        if (first) {
            dbg_log(0, "%-20s : Connecting to broker %s:%u%s (MQTT %s)\n", "run()", host, port, tls_ ? " over TLS" : "",
                    settings_.mqtt_version == kMqtt5 ? "5" : "3.1.1");
        } else {
            const auto delay = backoff_.next_delay();
            if (stop.wait(delay)) break;
            dbg_log(0, "%-20s : Reconnecting to broker %s:%u after %.1f s\n", "run()", host, port,
                    std::chrono::duration<double>(delay).count());
        }
        was_accepted_ = false;
        const int result = connect();
        if (result == MOSQ_ERR_SUCCESS) serve_connection(stop);
        else dbg_log(0, "%-20s : Broker %s:%u not reachable: %s\n", "run()", host, port, error_text(result));
        // Only a connection that stayed up a while starts the waits afresh.
        if (was_accepted_) {
            using Duration = ReconnectBackoff::Duration;
            backoff_.connection_lasted(std::chrono::duration_cast<Duration>(Clock::now() - accepted_at_));
        }
    }
    finish();
}

// Every attempt is a new CONNECT with this connection's will: the broker
// keeps the will of the connection it has, so OFFLINE names the
// connection that ended.
int MqttLink::connect() {
    prepare_presence();
    return mosquitto_connect_bind_v5(client_, settings_.host.c_str(), static_cast<int>(settings_.port),
                                     settings_.keepalive, nullptr, connect_properties_);
}

void MqttLink::prepare_presence() {
    presence_.serial_number = serial_number_ ? serial_number_() : std::string();
    presence_.since = utc_timestamp(std::chrono::system_clock::now());
    presence_.connection = accepted_count_ + 1;
    const std::string will = presence_message(presence_, "OFFLINE");
    const int result = mosquitto_will_set(client_, settings_.status_topic.c_str(), static_cast<int>(will.size()),
                                          will.data(), kQos, true);
    if (result != MOSQ_ERR_SUCCESS)
        dbg_log(0, "%-20s : Could not set the will on %s: %s\n", "connect()", settings_.status_topic.c_str(),
                error_text(result));
}

int MqttLink::publish_state(std::string_view state) {
    const std::string message = presence_message(presence_, state);
    const int result = mosquitto_publish(client_, nullptr, settings_.status_topic.c_str(),
                                         static_cast<int>(message.size()), message.data(), kQos, true);
    if (result != MOSQ_ERR_SUCCESS) {
        dbg_log(0, "%-20s : Could not publish %.*s on %s: %s\n", "publish_state()", static_cast<int>(state.size()),
                state.data(), settings_.status_topic.c_str(), error_text(result));
        return -1;
    }
    ++in_flight_;
    dbg_log(0, "%-20s : %.*s on %s (connection %lu since %s)\n", "publish_state()", static_cast<int>(state.size()),
            state.data(), settings_.status_topic.c_str(), presence_.connection, presence_.since.c_str());
    return 0;
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
        // Said before the disconnect, which makes the broker drop the will.
        publish_state("OFFLINE");
        const auto drain_end = Clock::now() + kDrainTime;
        while (in_flight_ > 0 && accepted_ && Clock::now() < drain_end && turn(kLoopTimeoutMs / 5)) {
        }
        if (in_flight_ > 0)
            dbg_log(0, "%-20s : %zu messages not acknowledged by the broker\n", "finish()", in_flight_);
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
    Properties properties;
    if (route_.has_correlation) {
        mosquitto_property *list = nullptr;
        mosquitto_property_add_binary(&list, MQTT_PROP_CORRELATION_DATA, route_.correlation.data(),
                                      static_cast<std::uint16_t>(route_.correlation.size()));
        properties.reset(list);
    }
    const int result = mosquitto_publish_v5(client_, nullptr, route_.topic.c_str(), static_cast<int>(answer.size()),
                                            answer.data(), kQos, false, properties.get());
    if (result != MOSQ_ERR_SUCCESS) {
        dbg_log(0, "%-20s : Could not publish an answer of %zu bytes on %s: %s\n", "publish()", answer.size(),
                route_.topic.c_str(), error_text(result));
        return -1;
    }
    ++in_flight_;
    return 0;
}

void MqttLink::on_connect(mosquitto *client, void *self, int result, int, const mosquitto_property *) noexcept {
    without_unwinding([&] {
        MqttLink &link = link_of(self);
        const char *host = link.settings_.host.c_str();
        const unsigned port = link.settings_.port;
        if (result != 0) {
            dbg_log(0, "%-20s : Broker %s:%u refused the connection: %s\n", "on_connect()", host, port,
                    refusal_text(result));
            return;
        }
        link.accepted_ = link.was_accepted_ = true;
        link.accepted_at_ = Clock::now();
        link.presence_.connection = ++link.accepted_count_;
        dbg_log(0, "%-20s : Connected to broker %s:%u\n", "on_connect()", host, port);
        // The session is clean: the subscription is made again on every
        // connection. ONLINE waits for it: a head-end that asks as soon as it
        // sees ONLINE must find the unit listening.
        const int subscribed = mosquitto_subscribe(client, nullptr, link.settings_.sub_topic.c_str(), kQos);
        if (subscribed != MOSQ_ERR_SUCCESS)
            dbg_log(0, "%-20s : Could not subscribe to %s: %s\n", "on_connect()", link.settings_.sub_topic.c_str(),
                    error_text(subscribed));
    }, reported_by("on_connect()"));
}

void MqttLink::on_disconnect(mosquitto *, void *self, int result, const mosquitto_property *) noexcept {
    without_unwinding([&] {
        MqttLink &link = link_of(self);
        const bool was_connected = std::exchange(link.accepted_, false);
        const char *host = link.settings_.host.c_str();
        const unsigned port = link.settings_.port;
        if (result == 0) dbg_log(0, "%-20s : Disconnected from broker %s:%u\n", "on_disconnect()", host, port);
        else if (was_connected)
            dbg_log(0, "%-20s : Lost the broker %s:%u: %s\n", "on_disconnect()", host, port, error_text(result));
    }, reported_by("on_disconnect()"));
}

void MqttLink::on_subscribe(mosquitto *, void *self, int, int count, const int *granted_qos,
                            const mosquitto_property *) noexcept {
    without_unwinding([&] {
        MqttLink &link = link_of(self);
        const char *topic = link.settings_.sub_topic.c_str();
        // 0x80 and above in place of a QoS: the broker refused the subscription,
        // and the unit can't hear requests: it does not say ONLINE.
        if (count < 1 || granted_qos[0] > 2) {
            dbg_log(0, "%-20s : Broker refused the subscription to %s\n", "on_subscribe()", topic);
            return;
        }
        dbg_log(0, "%-20s : Subscribed to %s (QoS %d)\n", "on_subscribe()", topic, granted_qos[0]);
        link.publish_state("ONLINE");
    }, reported_by("on_subscribe()"));
}

void MqttLink::on_publish(mosquitto *, void *self, int, int, const mosquitto_property *) noexcept {
    MqttLink &link = link_of(self);
    if (link.in_flight_ > 0) --link.in_flight_;
}

// The library's own errors and warnings, among them OpenSSL's reason for a
// failed handshake. Its lines never hold the password.
void MqttLink::on_log(mosquitto *, void *, int level, const char *text) noexcept {
    if ((level & (MOSQ_LOG_ERR | MOSQ_LOG_WARNING)) != 0) dbg_log(0, "%-20s : %s\n", "mqtt", text);
}

void MqttLink::on_message(mosquitto *, void *self, const mosquitto_message *message,
                          const mosquitto_property *props) noexcept {
    MqttLink &link = link_of(self);
    without_unwinding([&] { link.handle(*message, props); },
                      [&](const char *what) {
                          dbg_log(0, "%-20s : Request of %d bytes dropped: %s\n", "on_message()", message->payloadlen,
                                  what);
                      });
    // Whatever is published outside a request goes to the unit's own answer topic.
    without_unwinding([&] { link.route_ = Route{link.settings_.pub_topic, {}, false}; },
                      reported_by("on_message()"));
}

void MqttLink::handle(const mosquitto_message &message, const mosquitto_property *props) {
    // Requests read in the same turn as the stop are not started: each may
    // wait for a store that hangs, and the stop must not wait for them all.
    if (stop_ != nullptr && stop_->requested()) {
        dbg_log(0, "%-20s : Stopping: a request on %s was not answered\n", "on_message()",
                echo_of(message.topic).c_str());
        return;
    }
    // A retained message is an old request replayed by the broker on every
    // subscription: answering it would repeat a command each time the unit
    // connects.
    if (message.retain) {
        // The topic is the sender's (under a wildcard CmdSubTopic): only its start is logged.
        dbg_log(0, "%-20s : Ignored a retained request on %s\n", "on_message()", echo_of(message.topic).c_str());
        return;
    }

    // MQTT 5: the answer goes where the request asks, with its Correlation Data.
    Route route{settings_.pub_topic, {}, false};
    std::string refusal;
    char *response_topic = nullptr;
    if (mosquitto_property_read_string(props, MQTT_PROP_RESPONSE_TOPIC, &response_topic, false) != nullptr) {
        const std::unique_ptr<char, MallocFree> owned(response_topic);
        const std::string topic(response_topic);
        bool comes_back = false;
        mosquitto_topic_matches_sub(settings_.sub_topic.c_str(), topic.c_str(), &comes_back);
        if (mosquitto_pub_topic_check(topic.c_str()) != MOSQ_ERR_SUCCESS)
            refusal = "Response Topic \"" + echo_of(topic) + "\" refused: not a topic to publish on (no + or #)";
        else if (comes_back)
            refusal = "Response Topic \"" + echo_of(topic) + "\" refused: it falls under CmdSubTopic \"" + settings_.sub_topic +
                      "\", the answer would come back as a request";
        else if (topic == settings_.status_topic)
            refusal = "Response Topic \"" + echo_of(topic) + "\" refused: it is the unit's status topic";
        else route.topic = topic;
    }
    void *correlation = nullptr;
    std::uint16_t correlation_size = 0;
    if (mosquitto_property_read_binary(props, MQTT_PROP_CORRELATION_DATA, &correlation, &correlation_size, false) !=
        nullptr) {
        const std::unique_ptr<void, MallocFree> owned(correlation);
        route.correlation.assign(static_cast<const char *>(correlation), correlation_size);
        route.has_correlation = true;
    }
    route_ = std::move(route);

    // A request beyond the host's limit is refused by the request parser,
    // unread, like a --stdin line of that size.
    const std::string_view payload(static_cast<const char *>(message.payload),
                                   static_cast<std::size_t>(message.payloadlen));
    if (!refusal.empty()) on_refusal_(payload, refusal);
    else on_request_(payload);
}

}  // namespace dcu::host
