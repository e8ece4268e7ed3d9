// Every store command of the system goes through this layer.
//
// Commands go over a Connection: where its hiredis context is kept, where
// the reply of its last command is held, and where its own lines are
// logged. The library and the hosts keep those in the C globals a host
// defines (p_redis_handler, p_redis_reply) and log through dbg_log, because
// a host written in C reads them there; cfgload keeps them in its own
// globals; metersim and the tests keep them in an OwnedConnection. The
// layer itself refers to no global of anyone's.
//
// Commands wait at most kCommandTimeoutSeconds for their reply. A command
// that gets no reply (no connection, connection lost, time-out) leaves the
// connection failed: nothing more is sent on it until it is connected again,
// since a late reply would be taken for the reply of a later command.
//
// A Reply owns one hiredis reply: while it lives the reply is also held in
// its connection's last-reply place (p_redis_reply for a host's); when it
// goes out of scope the reply is freed exactly once and that place no longer
// points at it. A Reply that did not arrive (no connection, connection lost)
// is null and is never freed.
#pragma once

#include <hiredis/hiredis.h>

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace dcu::store {

class Connection;

class Reply {
public:
    Reply() noexcept = default;
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
    friend class Connection;
    friend class Pipeline;
    // Takes reply (not null) and holds it in *holder while it lives.
    Reply(redisReply *reply, redisReply **holder) noexcept;
    void release() noexcept;
    redisReply *reply_ = nullptr;
    redisReply **holder_ = nullptr;
};

// What a connection logs its own lines through (connecting, failing to):
// the shape of the host's dbg_log. Null logs nothing.
using LogFunction = void (*)(int level, const char *format, ...);

enum class PendingReply { keep, release };

// How long a command may wait for its reply (and to be written) before the
// connection counts as failed; the connection attempt has its own 1.5 s.
inline constexpr int kCommandTimeoutSeconds = 2;

class Connection {
public:
    // A connection kept in the caller's places, which outlive it: a host's
    // p_redis_handler and p_redis_reply. Closing it is the caller's affair.
    constexpr Connection(redisContext *&context, redisReply *&last_reply, LogFunction log) noexcept
        : context_(&context), last_reply_(&last_reply), log_(log) {}
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    // redis_init's work: logs the attempt, closes an earlier connection,
    // connects with the 1.5 s time-out and sets the command time-out.
    // 0 when the connection stands, -1 when it does not (the context is then
    // null). With PendingReply::release a reply still held in the last-reply
    // place is released first (the library's build of redis_init).
    int connect(const char *server, std::uint16_t port, PendingReply pending);
    // Takes over a context connected by other means (a socket pair), closing
    // an earlier connection.
    void adopt(redisContext *context) noexcept;
    // Closes the connection; commands then get no reply until it connects again.
    void close() noexcept;

    redisContext *context() const noexcept { return *context_; }
    // The reply held by the last command's Reply; null when none is held.
    redisReply *last_reply() const noexcept { return *last_reply_; }
    // Why the connection failed, for log lines: hiredis's text, or "no store
    // connection" when there is none.
    const char *error_text() const noexcept;

    // Whether the connection can carry commands: it stands, nothing has
    // failed on it, and the store has not closed it meanwhile (a store that
    // restarted). Looks at the socket only, without a round trip.
    bool alive() const noexcept;

    // One command, one round trip. Formats follow hiredis: the format is split
    // at blanks and every %d or %s becomes (part of) one argument, so a %s text
    // with blanks travels as one value.
    [[gnu::format(printf, 2, 3)]] Reply command(const char *format, ...);
    [[gnu::format(printf, 2, 0)]] Reply command_va(const char *format, va_list args);
    // One command from ready-made arguments (binary-safe values).
    Reply command_argv(std::span<const std::string_view> args);

private:
    friend class Pipeline;
    enum class Failure { earlier, now };
    // Whether commands can be sent at all: a context that has not failed.
    bool usable() const noexcept;
    Reply received(void *reply) noexcept;
    Reply no_reply(Failure failure) noexcept;

    redisContext **context_;
    redisReply **last_reply_;
    LogFunction log_;
};

// A connection of a program's own (metersim, the tests): its context and
// last reply live in the object, and it is closed when the object goes.
namespace detail {
struct ConnectionPlaces {
    redisContext *context_place = nullptr;
    redisReply *reply_place = nullptr;
};
}  // namespace detail

class OwnedConnection : private detail::ConnectionPlaces, public Connection {
public:
    // The places are a base, so that they exist before the Connection that
    // refers to them.
    explicit OwnedConnection(LogFunction log = nullptr) noexcept : Connection(context_place, reply_place, log) {}
    ~OwnedConnection() { close(); }
};

// The connection that commands and pipelines take when none is named. A
// program that uses the short forms below defines it once, bound to where it
// keeps its connection: the library and dcuhost to the C globals the host
// defines. Programs that name their connection everywhere (cfgload,
// metersim, the tests) define none.
Connection &bound_connection() noexcept;

[[gnu::format(printf, 1, 2)]] inline Reply command(const char *format, ...) {
    va_list args;
    va_start(args, format);
    Reply reply = bound_connection().command_va(format, args);
    va_end(args);
    return reply;
}

inline Reply command_argv(std::span<const std::string_view> args) { return bound_connection().command_argv(args); }

inline bool connection_alive() noexcept { return bound_connection().alive(); }

// Commands of one phase sent together, replies read back in command order.
// The store sees the same commands in the same order as with command(), in
// one round trip. Replies not taken are read and released when the pipeline
// ends, so the connection never falls out of step.
class Pipeline {
public:
    explicit Pipeline(Connection &connection) noexcept : connection_(connection) {}
    Pipeline() noexcept : Pipeline(bound_connection()) {}
    Pipeline(const Pipeline &) = delete;
    Pipeline &operator=(const Pipeline &) = delete;
    ~Pipeline();

    [[gnu::format(printf, 2, 3)]] void append(const char *format, ...);
    // The reply of the next command in order; null when it could not be sent
    // or read.
    Reply next();

private:
    Connection &connection_;
    std::size_t appended_ = 0;  // commands handed to hiredis
    std::size_t requested_ = 0; // commands asked for, sent or not
    std::size_t taken_ = 0;     // replies handed out
    bool broken_ = false;       // a send or read failed: later replies are null
};

namespace detail {
// The protocol's text of a printf-style command with only %s, %d and %%
// conversions, as hiredis would write it, into out; its length, or 0 for a
// format it leaves to hiredis (any other conversion) or a command that does
// not fit out. Consumes args.
std::size_t format_command(std::span<char> out, const char *format, va_list args) noexcept;
}  // namespace detail

// How many commands have got no reply since the process started, on any
// connection. A handler compares it before and after its work: an answer
// built while commands failed can't be told from one about a unit that has
// nothing.
std::uint64_t failed_commands() noexcept;

// The commands of one request: whether any of them got no reply. Made at
// the entry point of each handler. A request is one scope however its entry
// points call each other: a scope made while another is open (a handler
// that calls find_ser_num) belongs to that one and counts from where it
// began, so no failure of the request escapes the answer.
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

}  // namespace dcu::store
