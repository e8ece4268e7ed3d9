// An MQTT broker (mosquitto) of the test's own: a free loopback port, a
// password file, no anonymous access, no persistence; started by fork/exec,
// waited for by connecting, stopped by its PID, and started again on the
// same port for tests where the broker goes away mid-session.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/temp_dir.hpp"

namespace dcu::test {

struct BrokerAccount {
    std::string user;
    std::string password;
};

class PrivateBroker {
public:
    explicit PrivateBroker(std::vector<BrokerAccount> accounts);
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
    // The broker's own log, for failure messages.
    std::string log() const;

private:
    bool start_on(std::uint16_t port);

    std::vector<BrokerAccount> accounts_;
    std::unique_ptr<TempDir> dir_;
    std::uint16_t port_ = 0;
    pid_t pid_ = -1;
};

}  // namespace dcu::test
