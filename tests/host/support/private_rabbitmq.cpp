#include "tests/host/support/private_rabbitmq.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <set>
#include <stdexcept>
#include <string_view>
#include <thread>

#include "common/unique_fd.hpp"
#include "reqhandlers/json_escape.hpp"
#include "tests/support/private_store.hpp"

namespace dcu::test {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Debian's start script, called directly: /usr/sbin/rabbitmq-server would
// switch to the rabbitmq user and the system's directories.
constexpr const char *kServerScript = "/usr/lib/rabbitmq/bin/rabbitmq-server";
// Erlang boots slowly on two shared cores; a node that is not up by then is broken.
constexpr auto kStartTime = 180s;
constexpr auto kStopTime = 60s;

std::string json_string(std::string_view text) { return "\"" + answer::escaped(text) + "\""; }

// argv with env, its output appended to log_path.
ChildProcess spawn(const std::vector<std::string> &argv, std::vector<std::string> env, const std::string &log_path) {
    const UniqueFd log(::open(log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600));
    if (!log) throw std::runtime_error("cannot open " + log_path);
    ChildLaunch launch;
    launch.argv = argv;
    launch.env = std::move(env);
    launch.stdout_fd = launch.stderr_fd = log.get();
    return ChildProcess(launch);
}

// count different free loopback ports.
std::vector<std::uint16_t> distinct_free_ports(std::size_t count) {
    std::set<std::uint16_t> ports;
    while (ports.size() < count) ports.insert(free_loopback_port());
    return {ports.begin(), ports.end()};
}

}  // namespace

PrivateRabbitMq::PrivateRabbitMq(std::vector<BrokerAccount> accounts, const TestPki *pki)
    : accounts_(std::move(accounts)), pki_(pki) {
    static std::atomic<int> nodes{0};
    node_name_ = "dcu-test-" + std::to_string(::getpid()) + "-" + std::to_string(++nodes) + "@localhost";
}

void PrivateRabbitMq::start() {
    if (running()) return;
    if (::access(kServerScript, X_OK) != 0)
        throw std::runtime_error(std::string(kServerScript) +
                                 " is missing: install rabbitmq-server (scripts/install-deps.sh does)");
    if (ports_.mqtt != 0) {
        if (!start_on(ports_)) throw std::runtime_error("RabbitMQ did not start again:\n" + log());
        return;
    }
    // A port taken between probing and binding makes the node fail: try others.
    for (int attempt = 0; attempt < 3; ++attempt) {
        dir_ = std::make_unique<TempDir>();
        const auto free = distinct_free_ports(5);
        const Ports ports{free[0], pki_ != nullptr ? free[1] : std::uint16_t{0}, free[2], free[3], free[4]};
        if (start_on(ports)) {
            ports_ = ports;
            return;
        }
        stop();
    }
    throw std::runtime_error("RabbitMQ did not start:\n" + log());
}

void PrivateRabbitMq::write_configuration(const Ports &ports) const {
    const TempDir &dir = *dir_;
    std::string config = "listeners.tcp.default = 127.0.0.1:" + std::to_string(ports.amqp) + "\n" +
                         "mqtt.listeners.tcp.default = 127.0.0.1:" + std::to_string(ports.mqtt) + "\n" +
                         "mqtt.allow_anonymous = false\n"
                         "mqtt.retained_message_store = rabbit_mqtt_retained_msg_store_ets\n"
                         "load_definitions = " + (dir / "definitions.json").string() + "\n" +
                         "log.file.level = info\n";
    if (pki_ != nullptr)
        config += "mqtt.listeners.ssl.default = 127.0.0.1:" + std::to_string(ports.tls) + "\n" +
                  "ssl_options.cacertfile = " + pki_->ca() + "\n" + "ssl_options.certfile = " + pki_->server_cert() +
                  "\n" + "ssl_options.keyfile = " + pki_->server_key() + "\n" +
                  "ssl_options.verify = verify_peer\n"
                  "ssl_options.fail_if_no_peer_cert = true\n";
    write_file(dir / "rabbitmq.conf", config);
    write_file(dir / "enabled_plugins", "[rabbitmq_mqtt].\n");
    // Read in place of /etc/rabbitmq/rabbitmq-env.conf: nothing of the system's node.
    write_file(dir / "rabbitmq-env.conf", "");

    std::string users, permissions;
    for (const auto &account : accounts_) {
        if (!users.empty()) {
            users += ",";
            permissions += ",";
        }
        users += "{\"name\":" + json_string(account.user) + ",\"password\":" + json_string(account.password) +
                 ",\"tags\":\"\"}";
        permissions += "{\"user\":" + json_string(account.user) +
                       ",\"vhost\":\"/\",\"configure\":\".*\",\"write\":\".*\",\"read\":\".*\"}";
    }
    write_file(dir / "definitions.json", "{\"vhosts\":[{\"name\":\"/\"}],\"users\":[" + users +
                                             "],\"permissions\":[" + permissions + "]}\n");
}

bool PrivateRabbitMq::start_epmd(std::uint16_t port) {
    if (epmd_.running()) return true;
    epmd_ = spawn({"epmd", "-address", "127.0.0.1", "-port", std::to_string(port)}, {"PATH=/usr/bin:/bin"},
                  (*dir_ / "epmd.log").string());
    const auto deadline = Clock::now() + 10s;
    while (!accepts_connections(port)) {
        if (epmd_.poll() || Clock::now() >= deadline) {
            epmd_ = ChildProcess();
            return false;
        }
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

bool PrivateRabbitMq::start_on(const Ports &ports) {
    write_configuration(ports);
    if (!start_epmd(ports.epmd)) return false;

    // The node says READY=1 here once it has booted, its plugins included.
    const std::string notify_path = (*dir_ / "notify.sock").string();
    ::unlink(notify_path.c_str());
    UniqueFd notify(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (!notify || notify_path.size() >= sizeof address.sun_path) throw std::runtime_error("no notification socket");
    std::memcpy(address.sun_path, notify_path.c_str(), notify_path.size() + 1);
    if (::bind(notify.get(), reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
        throw std::runtime_error("cannot bind " + notify_path + ": " + std::strerror(errno));

    const TempDir &dir = *dir_;
    std::map<std::string, std::string> settings = {
        {"HOME", dir.path().string()},  // the Erlang cookie
        {"RABBITMQ_NODENAME", node_name_},
        {"RABBITMQ_NODE_IP_ADDRESS", "127.0.0.1"},
        {"RABBITMQ_NODE_PORT", std::to_string(ports.amqp)},
        {"RABBITMQ_DIST_PORT", std::to_string(ports.distribution)},
        {"ERL_EPMD_PORT", std::to_string(ports.epmd)},
        {"RABBITMQ_CONFIG_FILE", (dir / "rabbitmq.conf").string()},
        {"RABBITMQ_ADVANCED_CONFIG_FILE", (dir / "advanced.config").string()},
        {"RABBITMQ_CONF_ENV_FILE", (dir / "rabbitmq-env.conf").string()},
        {"RABBITMQ_ENABLED_PLUGINS_FILE", (dir / "enabled_plugins").string()},
        {"RABBITMQ_MNESIA_BASE", (dir / "mnesia").string()},
        {"RABBITMQ_LOG_BASE", (dir / "log").string()},
        {"RABBITMQ_PID_FILE", (dir / "rabbitmq.pid").string()},
        // The distribution listens on the loopback only.
        {"RABBITMQ_SERVER_ADDITIONAL_ERL_ARGS", "-kernel inet_dist_use_interface {127,0,0,1}"},
        // With a notification socket the script runs the VM in its own
        // place (exec), in the foreground: our child's PID is the node's.
        {"NOTIFY_SOCKET", notify_path},
    };
    // Nothing of a node or Erlang set up around the test reaches this one.
    node_ = spawn({kServerScript}, environment_with(settings, {"RABBITMQ_*", "ERL_*"}),
                  (dir / "console.log").string());

    const auto deadline = Clock::now() + kStartTime;
    bool ready = false;
    while (!ready) {
        if (node_.poll()) return false;
        if (Clock::now() >= deadline) {
            stop_node();
            return false;
        }
        pollfd wait{notify.get(), POLLIN, 0};
        if (::poll(&wait, 1, 200) != 1) continue;
        char message[512];
        const ssize_t got = ::recv(notify.get(), message, sizeof message - 1, 0);
        if (got > 0) ready = std::string_view(message, static_cast<std::size_t>(got)).find("READY=1") !=
                             std::string_view::npos;
    }
    if (accepts_connections(ports.mqtt) && (ports.tls == 0 || accepts_connections(ports.tls))) return true;
    stop_node();
    return false;
}

void PrivateRabbitMq::stop_node() { node_.stop(SIGTERM, kStopTime); }

void PrivateRabbitMq::stop_epmd() { epmd_.stop(SIGTERM, 10s); }

void PrivateRabbitMq::stop() {
    // epmd after the node, which deregisters from it on the way out.
    stop_node();
    stop_epmd();
}

std::string PrivateRabbitMq::log() const {
    if (!dir_) return "(no RabbitMQ log)";
    std::string text;
    for (const auto &path : {*dir_ / ("log/" + node_name_ + ".log"), *dir_ / "console.log"}) {
        try {
            text += "--- " + path.string() + "\n" + read_file(path);
        } catch (const std::exception &) {
        }
    }
    return text.empty() ? "(no RabbitMQ log)" : text;
}

}  // namespace dcu::test
