// A TCP relay between the code under test and a real store, that can make
// the store misbehave on cue: answer late, drop the connection after a given
// number of replies (in the middle of a pipeline, say), or run a hook just
// before a given reply goes out, while the handler waits for it (to change
// the unit's files between a handler's steps).
//
// Replies are counted whole, as the store protocol frames them, so a fault
// lands at the same place on every run.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string_view>
#include <thread>

#include "common/unique_fd.hpp"

namespace dcu::test {

class StoreProxy {
public:
    // Listens on a free loopback port and relays each connection to the
    // store on store_port.
    explicit StoreProxy(std::uint16_t store_port);
    StoreProxy(const StoreProxy &) = delete;
    StoreProxy &operator=(const StoreProxy &) = delete;
    ~StoreProxy();

    std::uint16_t port() const { return port_; }

    // Each batch of replies waits this long before it is passed on.
    void delay_replies(std::chrono::milliseconds delay);
    // Only the next reply waits, this long.
    void delay_next_reply(std::chrono::milliseconds delay);
    // Once `replies` more replies have been passed on, the store is gone:
    // every connection is closed (0: at once), and so is every later one at
    // its first reply, until behave().
    void cut_after_replies(std::size_t replies);
    // Passes `commands` more whole commands to the store; at the next one the
    // store is gone, as with cut_after_replies(0), and that command and every
    // later byte never reach it (a connection lost inside a transaction).
    void cut_after_commands(std::size_t commands);
    // Runs hook on the relay's thread just before the `reply`-th reply from
    // now (1 for the next) is passed on.
    void before_reply(std::size_t reply, std::function<void()> hook);
    // No more faults.
    void behave();

    // Replies passed on since the proxy started.
    std::size_t replies_passed() const;

private:
    struct Faults {
        std::chrono::milliseconds delay{0};
        std::chrono::milliseconds next_delay{0};
        std::size_t cut_in = 0;      // replies until the cut; meaningful when cut_armed
        bool cut_armed = false;
        std::size_t commands_in = 0;  // commands until the cut; meaningful when commands_armed
        bool commands_armed = false;
        std::size_t hook_in = 0;     // replies until the hook runs; meaningful when hook is set
        std::function<void()> hook;
    };

    struct Link;
    void relay();
    void wake();
    // Passes the client's bytes on to the store, whole commands only while
    // commands are counted; false when the store can't take them.
    bool pass_commands(Link &link, std::string_view bytes);

    std::uint16_t port_ = 0;
    UniqueFd listener_;
    UniqueFd wake_read_, wake_write_;
    std::uint16_t store_port_;
    mutable std::mutex mutex_;
    Faults faults_;
    std::size_t passed_ = 0;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace dcu::test
