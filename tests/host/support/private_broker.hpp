// An MQTT broker (mosquitto) of the test's own: a free loopback port, a
// password file, no anonymous access, no persistence; started by fork/exec,
// waited for by connecting, stopped by its PID, and started again on the
// same ports for tests where the broker goes away mid-session. Given
// certificates, it also has a TLS listener on a port of its own that asks
// every client for a certificate signed by the test's CA
// (require_certificate true), the password file still applying.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tests/host/support/test_pki.hpp"
#include "tests/support/temp_dir.hpp"

namespace dcu::test {

struct BrokerAccount {
    std::string user;
    std::string password;
};

class PrivateBroker {
public:
    explicit PrivateBroker(std::vector<BrokerAccount> accounts, const TestPki *pki = nullptr);
    PrivateBroker(const PrivateBroker &) = delete;
    PrivateBroker &operator=(const PrivateBroker &) = delete;
    ~PrivateBroker() { stop(); }

    // Starts the broker and waits until it accepts connections. The first
    // start picks the port; later ones keep it.
    void start();
    // SIGTERM to the broker's PID, then waits for it.
    void stop();
    bool running() const { return pid_ > 0; }
    std::uint16_t port() const { return port_; }
    // The TLS listener's port; 0 without certificates.
    std::uint16_t tls_port() const { return tls_port_; }
    // The broker's own log, for failure messages.
    std::string log() const;

private:
    bool start_on(std::uint16_t port, std::uint16_t tls_port);

    std::vector<BrokerAccount> accounts_;
    std::unique_ptr<TempDir> dir_;
    const TestPki *pki_ = nullptr;
    std::uint16_t port_ = 0;
    std::uint16_t tls_port_ = 0;
    pid_t pid_ = -1;
};

}  // namespace dcu::test
