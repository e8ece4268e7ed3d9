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

#include "tests/host/support/test_broker.hpp"
#include "tests/host/support/test_pki.hpp"
#include "tests/support/child_process.hpp"
#include "tests/support/temp_dir.hpp"

namespace dcu::test {

class PrivateBroker : public TestBroker {
public:
    // extra_config: further global settings, in mosquitto.conf's words.
    explicit PrivateBroker(std::vector<BrokerAccount> accounts, const TestPki *pki = nullptr,
                           std::string extra_config = "");
    PrivateBroker(const PrivateBroker &) = delete;
    PrivateBroker &operator=(const PrivateBroker &) = delete;
    ~PrivateBroker() override { stop(); }

    void start() override;
    // SIGTERM to the broker's PID, then waits for it.
    void stop() override;
    bool running() const override { return broker_.running(); }
    std::uint16_t port() const override { return port_; }
    std::uint16_t tls_port() const override { return tls_port_; }
    std::string log() const override;
    // Where the log is written: time-stamped lines (seconds since the epoch).
    std::string log_path() const { return (*dir_ / "broker.log").string(); }
    pid_t pid() const { return broker_.pid(); }

private:
    bool start_on(std::uint16_t port, std::uint16_t tls_port);

    std::vector<BrokerAccount> accounts_;
    std::unique_ptr<TempDir> dir_;
    const TestPki *pki_ = nullptr;
    std::string extra_config_;
    std::uint16_t port_ = 0;
    std::uint16_t tls_port_ = 0;
    ChildProcess broker_;
};

}  // namespace dcu::test
