// A redis-server of the test's own, on a free loopback port in a scratch
// directory, without persistence; stopped by its PID.
#pragma once

#include <hiredis/hiredis.h>
#include <signal.h>
#include <sys/types.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/child_process.hpp"
#include "tests/support/temp_dir.hpp"

namespace dcu::test {

struct ContextFree {
    void operator()(redisContext *context) const noexcept { redisFree(context); }
};
using UniqueContext = std::unique_ptr<redisContext, ContextFree>;

struct ReplyFree {
    void operator()(redisReply *reply) const noexcept { freeReplyObject(reply); }
};
using UniqueReply = std::unique_ptr<redisReply, ReplyFree>;

class PrivateStore {
public:
    PrivateStore() = default;
    PrivateStore(const PrivateStore &) = delete;
    PrivateStore &operator=(const PrivateStore &) = delete;
    ~PrivateStore() { stop(); }

    // Starts the server (again, after stop()) and waits until it answers PING.
    // A restart takes a new port and an empty directory, unless same_port
    // asks for the last port and directory (with the keys of a save() there).
    void start(bool same_port = false);
    // The signal (SIGTERM: a clean stop; SIGKILL: a crash) to the server's
    // PID, then waits for it; a paused server is resumed to take it.
    void stop(int signal_number = SIGTERM);
    // Writes the keys to the server's dump file, which a start on the same
    // port reads back (as a store with persistence comes back).
    void save();
    // save(), stop() and start(true): a store restarted with every key.
    void restart_with_keys();
    // SIGSTOP and SIGCONT to the server: a store that hangs, then recovers.
    // Its kernel still accepts connections meanwhile; nothing answers them.
    void pause();
    void resume();
    bool running() const { return server_.running(); }
    std::uint16_t port() const { return port_; }
    pid_t pid() const { return server_.pid(); }

private:
    void launch(bool keep_port);

    std::unique_ptr<TempDir> dir_;
    std::uint16_t port_ = 0;
    ChildProcess server_;
};

// A plain client connection of the test, independent of the library's.
class StoreClient {
public:
    explicit StoreClient(std::uint16_t port);
    UniqueReply run(const std::vector<std::string> &args);
    void flushall();
    void hset(const std::string &key, const std::string &field, const std::string &value);
    void del(const std::string &key);
    std::map<std::string, std::string> hgetall(const std::string &key);
    std::optional<std::string> hget(const std::string &key, const std::string &field);
    std::vector<std::string> keys(const std::string &pattern = "*");
    redisContext *context() { return context_.get(); }

private:
    UniqueContext context_;
};

// A second connection in MONITOR mode that records the commands the store
// receives from other clients, each as its list of arguments.
class Monitor {
public:
    explicit Monitor(std::uint16_t port);
    // Every command received since construction or the last call, up to now.
    std::vector<std::vector<std::string>> take();

private:
    std::uint16_t port_;
    UniqueContext context_;
};

// A free TCP port on the loopback interface.
std::uint16_t free_loopback_port();

}  // namespace dcu::test
