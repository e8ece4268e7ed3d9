#include "tests/host/support/private_broker.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <thread>

#include "common/unique_fd.hpp"
#include "tests/support/private_store.hpp"
#include "tests/support/run_program.hpp"

namespace dcu::test {

bool accepts_connections(std::uint16_t port) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return ::connect(fd.get(), reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
}

namespace {

// The broker drops its privileges to this user when started as root: keep
// the test's own, so that it can read the password file.
std::string current_user() {
    const passwd *entry = ::getpwuid(::geteuid());
    return entry != nullptr ? entry->pw_name : "root";
}

}  // namespace

PrivateBroker::PrivateBroker(std::vector<BrokerAccount> accounts, const TestPki *pki, std::string extra_config)
    : accounts_(std::move(accounts)), pki_(pki), extra_config_(std::move(extra_config)) {
    dir_ = std::make_unique<TempDir>();
    const auto password_file = (*dir_ / "passwd").string();
    write_file(password_file, "");
    ::chmod(password_file.c_str(), 0600);
    for (const auto &account : accounts_) {
        auto result = run_program({"mosquitto_passwd", "-b", password_file, account.user, account.password});
        if (result.exit_code != 0) throw std::runtime_error("mosquitto_passwd failed: " + result.err);
    }
}

void PrivateBroker::start() {
    if (running()) return;
    if (port_ != 0) {
        if (!start_on(port_, tls_port_)) throw std::runtime_error("mosquitto did not start again:\n" + log());
        return;
    }
    // A port taken between probing and binding makes the broker exit: try another.
    for (int attempt = 0; attempt < 5; ++attempt) {
        const std::uint16_t port = free_loopback_port();
        std::uint16_t tls_port = 0;
        while (pki_ != nullptr && (tls_port == 0 || tls_port == port)) tls_port = free_loopback_port();
        if (start_on(port, tls_port)) return;
    }
    throw std::runtime_error("mosquitto did not start:\n" + log());
}

bool PrivateBroker::start_on(std::uint16_t port, std::uint16_t tls_port) {
    const auto config = (*dir_ / "mosquitto.conf").string();
    std::string tls_listener;
    if (pki_ != nullptr)
        tls_listener = "listener " + std::to_string(tls_port) + " 127.0.0.1\n" + "cafile " + pki_->ca() + "\n" +
                       "certfile " + pki_->server_cert() + "\n" + "keyfile " + pki_->server_key() + "\n" +
                       "require_certificate true\n";
    // Global settings first: they hold for every listener.
    write_file(config, "per_listener_settings false\n"
                           "set_tcp_nodelay true\n"
                           "allow_anonymous false\n"
                           "password_file " + (*dir_ / "passwd").string() + "\n" +
                           "persistence false\n"
                           "user " + current_user() + "\n" +
                           "log_dest file " + (*dir_ / "broker.log").string() + "\n" +
                           "log_timestamp true\n"
                           "log_type error\nlog_type warning\nlog_type notice\nlog_type information\n" +
                           extra_config_ + (extra_config_.empty() || extra_config_.ends_with('\n') ? "" : "\n") +
                           "listener " + std::to_string(port) + " 127.0.0.1\n" + tls_listener);
    // The broker must not hold the test's output open: its log goes to the file.
    ChildLaunch launch;
    launch.argv = {"mosquitto", "-c", config};
    // Debian keeps the broker in /usr/sbin, which a user's PATH may lack.
    launch.fallback_path = "/usr/sbin/mosquitto";
    broker_ = ChildProcess(launch);
    for (int round = 0; round < 500; ++round) {
        if (accepts_connections(port) && (tls_port == 0 || accepts_connections(tls_port))) {
            port_ = port;
            tls_port_ = tls_port;
            return true;
        }
        if (broker_.poll()) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    stop();
    return false;
}

void PrivateBroker::stop() {
    if (!broker_.running()) return;
    broker_.signal(SIGTERM);
    broker_.wait();
}

std::string PrivateBroker::log() const {
    try {
        return read_file(*dir_ / "broker.log");
    } catch (const std::exception &) {
        return "(no broker log)";
    }
}

}  // namespace dcu::test
