#include "tests/support/private_store.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <thread>

#include "common/unique_fd.hpp"

namespace dcu::test {

std::uint16_t free_loopback_port() {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM, 0));
    if (!fd) throw std::runtime_error("socket failed");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (::bind(fd.get(), reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
        throw std::runtime_error("bind failed");
    socklen_t length = sizeof address;
    if (::getsockname(fd.get(), reinterpret_cast<sockaddr *>(&address), &length) != 0)
        throw std::runtime_error("getsockname failed");
    return ntohs(address.sin_port);
}

namespace {

bool answers_ping(std::uint16_t port) {
    const timeval timeout{0, 200000};
    UniqueContext context(redisConnectWithTimeout("127.0.0.1", port, timeout));
    if (!context || context->err) return false;
    UniqueReply reply(static_cast<redisReply *>(redisCommand(context.get(), "PING")));
    return reply && reply->type == REDIS_REPLY_STATUS;
}

}  // namespace

void PrivateStore::start(bool same_port) {
    if (running()) return;
    const bool again = same_port && port_ != 0 && dir_;
    if (!again) dir_ = std::make_unique<TempDir>();
    launch(again);
}

void PrivateStore::save() { StoreClient(port_).run({"SAVE"}); }

void PrivateStore::restart_with_keys() {
    save();
    stop();
    start(true);
}

void PrivateStore::pause() { server_.signal(SIGSTOP); }

void PrivateStore::resume() { server_.signal(SIGCONT); }

void PrivateStore::launch(bool keep_port) {
    // A port taken between probing and binding makes the server exit: try again.
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (!keep_port) port_ = free_loopback_port();
        const auto config = dir_->path() / "redis.conf";
        write_file(config, "bind 127.0.0.1\nport " + std::to_string(port_) +
                               "\nsave \"\"\nappendonly no\ndaemonize no\nlogfile \"\"\ndir " +
                               dir_->path().string() + "\n");
        // Its output goes nowhere: CTest waits for the test's output to close.
        ChildLaunch launch;
        launch.argv = {"redis-server", config.string()};
        server_ = ChildProcess(launch);
        for (int wait_round = 0; wait_round < 500; ++wait_round) {
            if (answers_ping(port_)) return;
            if (server_.poll()) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        stop();
    }
    throw std::runtime_error("redis-server did not start");
}

void PrivateStore::stop(int signal_number) {
    if (!server_.running()) return;
    server_.signal(signal_number);
    server_.signal(SIGCONT);
    server_.wait();
}

StoreClient::StoreClient(std::uint16_t port) {
    const timeval timeout{2, 0};
    context_.reset(redisConnectWithTimeout("127.0.0.1", port, timeout));
    if (!context_ || context_->err) throw std::runtime_error("cannot connect to the test store");
}

UniqueReply StoreClient::run(const std::vector<std::string> &args) {
    std::vector<const char *> argv;
    std::vector<size_t> lengths;
    for (const auto &arg : args) {
        argv.push_back(arg.data());
        lengths.push_back(arg.size());
    }
    UniqueReply reply(static_cast<redisReply *>(
        redisCommandArgv(context_.get(), static_cast<int>(argv.size()), argv.data(), lengths.data())));
    if (!reply) throw std::runtime_error("test store connection lost");
    return reply;
}

void StoreClient::flushall() { run({"FLUSHALL"}); }

void StoreClient::hset(const std::string &key, const std::string &field, const std::string &value) {
    run({"HSET", key, field, value});
}

void StoreClient::del(const std::string &key) { run({"DEL", key}); }

std::map<std::string, std::string> StoreClient::hgetall(const std::string &key) {
    auto reply = run({"HGETALL", key});
    std::map<std::string, std::string> fields;
    for (size_t i = 0; i + 1 < reply->elements; i += 2)
        fields[std::string(reply->element[i]->str, reply->element[i]->len)] =
            std::string(reply->element[i + 1]->str, reply->element[i + 1]->len);
    return fields;
}

std::optional<std::string> StoreClient::hget(const std::string &key, const std::string &field) {
    auto reply = run({"HGET", key, field});
    if (reply->type != REDIS_REPLY_STRING) return std::nullopt;
    return std::string(reply->str, reply->len);
}

std::vector<std::string> StoreClient::keys(const std::string &pattern) {
    auto reply = run({"KEYS", pattern});
    std::vector<std::string> names;
    for (size_t i = 0; i < reply->elements; ++i) names.emplace_back(reply->element[i]->str, reply->element[i]->len);
    return names;
}

namespace {

constexpr const char *kSentinel = "dcu-monitor-sentinel";

// Splits one MONITOR line: 1700000000.123456 [0 127.0.0.1:5555] "hmset" "K" ...
std::vector<std::string> parse_monitor_line(std::string_view line) {
    std::vector<std::string> args;
    size_t pos = line.find(']');
    if (pos == std::string_view::npos) return args;
    for (++pos; pos < line.size(); ++pos) {
        if (line[pos] != '"') continue;
        std::string arg;
        for (++pos; pos < line.size() && line[pos] != '"'; ++pos) {
            char c = line[pos];
            if (c == '\\' && pos + 1 < line.size()) {
                char escaped = line[++pos];
                switch (escaped) {
                case 'n': arg += '\n'; break;
                case 'r': arg += '\r'; break;
                case 't': arg += '\t'; break;
                case 'a': arg += '\a'; break;
                case 'b': arg += '\b'; break;
                case 'x':
                    arg += static_cast<char>(std::stoi(std::string(line.substr(pos + 1, 2)), nullptr, 16));
                    pos += 2;
                    break;
                default: arg += escaped; break;
                }
            } else {
                arg += c;
            }
        }
        args.push_back(std::move(arg));
    }
    return args;
}

}  // namespace

Monitor::Monitor(std::uint16_t port) : port_(port) {
    const timeval timeout{2, 0};
    context_.reset(redisConnectWithTimeout("127.0.0.1", port, timeout));
    if (!context_ || context_->err) throw std::runtime_error("cannot connect the monitor");
    UniqueReply ok(static_cast<redisReply *>(redisCommand(context_.get(), "MONITOR")));
    if (!ok || ok->type != REDIS_REPLY_STATUS) throw std::runtime_error("MONITOR refused");
}

std::vector<std::vector<std::string>> Monitor::take() {
    StoreClient(port_).run({"ECHO", kSentinel});
    std::vector<std::vector<std::string>> commands;
    for (;;) {
        void *raw = nullptr;
        if (redisGetReply(context_.get(), &raw) != REDIS_OK) throw std::runtime_error("monitor connection lost");
        UniqueReply reply(static_cast<redisReply *>(raw));
        auto args = parse_monitor_line(std::string_view(reply->str, reply->len));
        if (args.size() == 2 && args[0] == "ECHO" && args[1] == kSentinel) break;
        if (!args.empty()) commands.push_back(std::move(args));
    }
    return commands;
}

}  // namespace dcu::test
