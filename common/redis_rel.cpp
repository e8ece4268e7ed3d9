#include <poll.h>
#include <sys/time.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <utility>
#include <vector>

#include "common/store.hpp"

namespace dcu::store {

namespace {

constexpr const char *kFunName = "redis_init()";

// Whether commands can be sent. A connection that failed stays failed until
// redis_init makes a new one; hiredis would still queue every command given
// to it in its write buffer, which would then grow with every request.
bool usable() noexcept { return p_redis_handler != nullptr && p_redis_handler->err == 0; }

std::uint64_t g_failed_commands = 0;
const RequestScope *g_current_scope = nullptr;

enum class Failure { earlier, now };

// A command that got no reply, because the connection had failed earlier or
// failed just now. hiredis words a time-out as the socket's EAGAIN
// ("Resource temporarily unavailable"); the log should say what happened.
Reply no_reply(Failure failure) noexcept {
    const int error = errno;
    ++g_failed_commands;
    if (failure == Failure::now && p_redis_handler != nullptr && p_redis_handler->err == REDIS_ERR_IO &&
        (error == EAGAIN || error == EWOULDBLOCK))
        std::snprintf(p_redis_handler->errstr, sizeof p_redis_handler->errstr, "no reply within %d s",
                      kCommandTimeoutSeconds);
    return Reply{};
}

}  // namespace

bool connection_alive() noexcept {
    if (!usable() || p_redis_handler->fd < 0) return false;
    pollfd socket{p_redis_handler->fd, POLLIN | POLLRDHUP, 0};
    int ready;
    do {
        ready = ::poll(&socket, 1, 0);
    } while (ready < 0 && errno == EINTR);
    // Between requests the store has nothing to say: anything readable is
    // the connection's end (a store that restarted or went away) or bytes
    // out of step with the commands.
    return ready == 0;
}

std::uint64_t failed_commands() noexcept { return g_failed_commands; }

RequestScope::RequestScope() noexcept : failed_at_start_(g_failed_commands), outer_(g_current_scope) {
    g_current_scope = this;
}

RequestScope::~RequestScope() { g_current_scope = outer_; }

const RequestScope *RequestScope::current() noexcept { return g_current_scope; }

Reply::Reply(redisReply *reply) noexcept : reply_(reply) {
    if (reply_ != nullptr) p_redis_reply = reply_;
}

Reply::Reply(Reply &&other) noexcept : reply_(std::exchange(other.reply_, nullptr)) {}

Reply &Reply::operator=(Reply &&other) noexcept {
    if (this != &other) {
        release();
        reply_ = std::exchange(other.reply_, nullptr);
    }
    return *this;
}

Reply::~Reply() { release(); }

void Reply::release() noexcept {
    if (reply_ == nullptr) return;
    if (p_redis_reply == reply_) p_redis_reply = nullptr;
    freeReplyObject(reply_);
    reply_ = nullptr;
}

bool Reply::is_error() const noexcept { return reply_ != nullptr && reply_->type == REDIS_REPLY_ERROR; }

std::size_t Reply::element_count() const noexcept {
    if (reply_ == nullptr || reply_->type != REDIS_REPLY_ARRAY) return 0;
    return reply_->elements;
}

std::optional<std::string_view> Reply::element_text(std::size_t i) const noexcept {
    if (i >= element_count()) return std::nullopt;
    const redisReply *element = reply_->element[i];
    if (element == nullptr || element->type != REDIS_REPLY_STRING || element->str == nullptr) return std::nullopt;
    return std::string_view(element->str, element->len);
}

Reply command(const char *format, ...) {
    if (!usable()) return no_reply(Failure::earlier);
    va_list args;
    va_start(args, format);
    void *reply = redisvCommand(p_redis_handler, format, args);
    va_end(args);
    if (reply == nullptr) return no_reply(Failure::now);
    return Reply(static_cast<redisReply *>(reply));
}

Reply command_argv(std::span<const std::string_view> args) {
    if (!usable()) return no_reply(Failure::earlier);
    std::vector<const char *> argv;
    std::vector<std::size_t> argvlen;
    argv.reserve(args.size());
    argvlen.reserve(args.size());
    for (std::string_view arg : args) {
        argv.push_back(arg.data());
        argvlen.push_back(arg.size());
    }
    void *reply = redisCommandArgv(p_redis_handler, static_cast<int>(argv.size()), argv.data(), argvlen.data());
    if (reply == nullptr) return no_reply(Failure::now);
    return Reply(static_cast<redisReply *>(reply));
}

Pipeline::~Pipeline() {
    while (taken_ < requested_) next();
}

void Pipeline::append(const char *format, ...) {
    ++requested_;
    if (broken_ || !usable()) {
        broken_ = true;
        return;
    }
    va_list args;
    va_start(args, format);
    int result = redisvAppendCommand(p_redis_handler, format, args);
    va_end(args);
    if (result != REDIS_OK) {
        broken_ = true;
        return;
    }
    ++appended_;
}

Reply Pipeline::next() {
    if (taken_ >= requested_) return Reply{};
    ++taken_;
    if (taken_ > appended_ || p_redis_handler == nullptr) return no_reply(Failure::earlier);
    void *reply = nullptr;
    if (redisGetReply(p_redis_handler, &reply) != REDIS_OK || reply == nullptr) {
        // The connection is gone: nothing more will come for this pipeline.
        appended_ = taken_ - 1;
        broken_ = true;
        return no_reply(Failure::now);
    }
    return Reply(static_cast<redisReply *>(reply));
}

int connect(const char *server, std::uint16_t port, PendingReply pending) {
    dbg_log(0, "%-20s : Trying to connect on Redis Server : %s with port : %d\n", kFunName, server ? server : "",
            static_cast<int>(port));
    if (p_redis_handler != nullptr) {
        // A reconnection: the earlier context would otherwise leak.
        redisFree(p_redis_handler);
        p_redis_handler = nullptr;
    }
    if (server == nullptr) {
        dbg_log(0, "%-20s : Connection error: %s\n", kFunName, "no server address");
        return -1;
    }
    const timeval timeout{1, 500000};
    p_redis_handler = redisConnectWithTimeout(server, port, timeout);
    if (p_redis_handler == nullptr) {
        dbg_log(0, "%-20s : Connection error: can't allocate redis context\n", kFunName);
        return -1;
    }
    if (p_redis_handler->err != 0) {
        dbg_log(0, "%-20s : Connection error: %s\n", kFunName, p_redis_handler->errstr);
        redisFree(p_redis_handler);
        p_redis_handler = nullptr;
        return -1;
    }
    // Without a time-out a store that stops answering (a paused or hung
    // server) would hold every command, and the process with it, for ever.
    if (redisSetTimeout(p_redis_handler, timeval{kCommandTimeoutSeconds, 0}) != REDIS_OK) {
        dbg_log(0, "%-20s : Connection error: %s\n", kFunName, p_redis_handler->errstr);
        redisFree(p_redis_handler);
        p_redis_handler = nullptr;
        return -1;
    }
    dbg_log(0, "%-20s : Connected on Redis Server : %s with port : %d\n", kFunName, server, static_cast<int>(port));
    if (pending == PendingReply::release && p_redis_reply != nullptr) {
        freeReplyObject(p_redis_reply);
        p_redis_reply = nullptr;
    }
    return 0;
}

}  // namespace dcu::store
