// What the MQTT suites need of a broker of their own, whatever its kind
// (tests/host/support/private_broker.hpp: mosquitto; private_rabbitmq.hpp:
// RabbitMQ's MQTT adapter): loopback ports of its own, the suite's accounts
// and no anonymous access, nothing kept on disk that outlives the suite;
// started and stopped by PID, and started again on the same ports for tests
// where the broker goes away mid-session.
#pragma once

#include <cstdint>
#include <string>

namespace dcu::test {

struct BrokerAccount {
    std::string user;
    std::string password;
};

class TestBroker {
public:
    virtual ~TestBroker() = default;

    // Starts the broker and waits until it accepts connections. The first
    // start picks the ports; later ones keep them.
    virtual void start() = 0;
    // Stops the broker by its PID and waits for it.
    virtual void stop() = 0;
    virtual bool running() const = 0;
    // The plain MQTT listener's port.
    virtual std::uint16_t port() const = 0;
    // The TLS listener's port; 0 without certificates.
    virtual std::uint16_t tls_port() const = 0;
    // The broker's own log, for failure messages.
    virtual std::string log() const = 0;
};

// Whether something accepts TCP connections on the loopback port.
bool accepts_connections(std::uint16_t port);

}  // namespace dcu::test
