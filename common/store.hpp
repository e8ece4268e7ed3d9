// Every store command of the system goes through this layer.
//
// Commands wait at most kCommandTimeout for their reply. A command that gets
// no reply (no connection, connection lost, time-out) leaves the connection
// failed: nothing more is sent on it until redis_init makes a new one, since
// a late reply would be taken for the reply of a later command.
//
// A Reply owns one hiredis reply: while it lives the reply is also held in
// p_redis_reply (the reply of the command issued last); when it goes out of
// scope the reply is freed exactly once and p_redis_reply no longer points
// at it. A Reply that did not arrive (no connection, connection lost) is
// null and is never freed.
#pragma once

#include <hiredis/hiredis.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "dcu/host_services.h"

namespace dcu::store {

class Reply {
public:
    Reply() noexcept = default;
    explicit Reply(redisReply *reply) noexcept;
    Reply(const Reply &) = delete;
    Reply &operator=(const Reply &) = delete;
    Reply(Reply &&other) noexcept;
    Reply &operator=(Reply &&other) noexcept;
    ~Reply();

    // False when no reply came back at all.
    bool arrived() const noexcept { return reply_ != nullptr; }
    bool is_error() const noexcept;
    // The number of elements of an array reply; 0 for every other reply.
    std::size_t element_count() const noexcept;
    // The text of element i of an array reply, when that element holds one.
    std::optional<std::string_view> element_text(std::size_t i) const noexcept;
    const redisReply *get() const noexcept { return reply_; }

private:
    void release() noexcept;
    redisReply *reply_ = nullptr;
};

// One command, one round trip. Formats follow hiredis: the format is split at
// blanks and every %d or %s becomes (part of) one argument, so a %s text with
// blanks travels as one value.
Reply command(const char *format, ...) DCU_PRINTF_LIKE(1, 2);

// One command from ready-made arguments (binary-safe values).
Reply command_argv(std::span<const std::string_view> args);

// Commands of one phase sent together, replies read back in command order.
// The store sees the same commands in the same order as with command(), in
// one round trip. Replies not taken are read and released when the pipeline
// ends, so the connection never falls out of step.
class Pipeline {
public:
    Pipeline() = default;
    Pipeline(const Pipeline &) = delete;
    Pipeline &operator=(const Pipeline &) = delete;
    ~Pipeline();

    void append(const char *format, ...) DCU_PRINTF_LIKE(2, 3);
    // The reply of the next command in order; null when it could not be sent
    // or read.
    Reply next();

private:
    std::size_t appended_ = 0;  // commands handed to hiredis
    std::size_t requested_ = 0; // commands asked for, sent or not
    std::size_t taken_ = 0;     // replies handed out
    bool broken_ = false;       // a send or read failed: later replies are null
};

// How long a command may wait for its reply (and to be written) before the
// connection counts as failed; the connection attempt has its own 1.5 s.
inline constexpr int kCommandTimeoutSeconds = 2;

// Whether the connection can carry commands: it stands, nothing has failed on
// it, and the store has not closed it meanwhile (a store that restarted).
// Looks at the socket only, without a round trip.
bool connection_alive() noexcept;

// How many commands have got no reply since the process started. A handler
// compares it before and after its work: an answer built while commands
// failed can't be told from one about a unit that has nothing.
std::uint64_t failed_commands() noexcept;

// The commands of one request: whether any of them got no reply. Made at
// the entry point of each handler; answers consult the innermost one.
class RequestScope {
public:
    RequestScope() noexcept;
    RequestScope(const RequestScope &) = delete;
    RequestScope &operator=(const RequestScope &) = delete;
    ~RequestScope();
    bool store_failed() const noexcept { return failed_commands() != failed_at_start_; }
    // The scope of the request being handled; null outside any.
    static const RequestScope *current() noexcept;

private:
    std::uint64_t failed_at_start_;
    const RequestScope *outer_;
};

enum class PendingReply { keep, release };

// redis_init's work, shared by its two builds; only the library's build
// releases a reply still held in p_redis_reply.
int connect(const char *server, std::uint16_t port, PendingReply pending);

}  // namespace dcu::store
