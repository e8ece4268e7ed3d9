// A RabbitMQ node of the test's own with its MQTT adapter (rabbitmq_mqtt,
// MQTT 3.1.1), run as a plain process, never as the system's service:
//   - a scratch directory for its data, logs, configuration and Erlang
//     cookie (HOME), and a node name of its own, dcu-test-<pid>-<n>@localhost;
//   - loopback ports of its own for MQTT, AMQP, the Erlang distribution and
//     epmd (ERL_EPMD_PORT), so nothing meets the system's default node;
//   - epmd started by the test in the foreground (epmd -port N), its PID
//     kept, stopped after the node;
//   - the node started in the foreground so that its PID is that of the
//     Erlang VM itself; it tells when it is ready over the service
//     manager's notification socket (NOTIFY_SOCKET), which the test binds;
//   - the suite's accounts with permissions on the default virtual host,
//     loaded at boot from a definitions file; no guest, no anonymous MQTT;
//   - retained messages in the adapter's in-memory store, so that, as with
//     mosquitto without persistence, a restart forgets them;
//   - given certificates, a TLS listener that asks every client for one
//     signed by the test's CA, the passwords still applying.
// Both processes get SIGTERM should the test die, so nothing of it is left
// running. A start takes several seconds: start it once per suite.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tests/host/support/test_broker.hpp"
#include "tests/host/support/test_pki.hpp"
#include "tests/support/child_process.hpp"
#include "tests/support/temp_dir.hpp"

namespace dcu::test {

class PrivateRabbitMq : public TestBroker {
public:
    explicit PrivateRabbitMq(std::vector<BrokerAccount> accounts, const TestPki *pki = nullptr);
    PrivateRabbitMq(const PrivateRabbitMq &) = delete;
    PrivateRabbitMq &operator=(const PrivateRabbitMq &) = delete;
    ~PrivateRabbitMq() override { stop(); }

    void start() override;
    // SIGTERM to the node's PID and waits for it (SIGKILL after a minute),
    // then the same for epmd.
    void stop() override;
    bool running() const override { return node_.running(); }
    std::uint16_t port() const override { return ports_.mqtt; }
    std::uint16_t tls_port() const override { return ports_.tls; }
    std::string log() const override;

private:
    struct Ports {
        std::uint16_t mqtt = 0, tls = 0, amqp = 0, distribution = 0, epmd = 0;
    };
    bool start_on(const Ports &ports);
    void write_configuration(const Ports &ports) const;
    bool start_epmd(std::uint16_t port);
    void stop_node();
    void stop_epmd();

    std::vector<BrokerAccount> accounts_;
    const TestPki *pki_ = nullptr;
    std::unique_ptr<TempDir> dir_;
    std::string node_name_;
    Ports ports_;
    ChildProcess node_;
    ChildProcess epmd_;
};

}  // namespace dcu::test
