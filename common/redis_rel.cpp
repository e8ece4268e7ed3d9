#include <sys/time.h>

#include <cstdarg>
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

}  // namespace

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
    if (!usable()) return Reply{};
    va_list args;
    va_start(args, format);
    void *reply = redisvCommand(p_redis_handler, format, args);
    va_end(args);
    return Reply(static_cast<redisReply *>(reply));
}

Reply command_argv(std::span<const std::string_view> args) {
    if (!usable()) return Reply{};
    std::vector<const char *> argv;
    std::vector<std::size_t> argvlen;
    argv.reserve(args.size());
    argvlen.reserve(args.size());
    for (std::string_view arg : args) {
        argv.push_back(arg.data());
        argvlen.push_back(arg.size());
    }
    void *reply = redisCommandArgv(p_redis_handler, static_cast<int>(argv.size()), argv.data(), argvlen.data());
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
    if (taken_ > appended_ || p_redis_handler == nullptr) return Reply{};
    void *reply = nullptr;
    if (redisGetReply(p_redis_handler, &reply) != REDIS_OK) {
        // The connection is gone: nothing more will come for this pipeline.
        appended_ = taken_ - 1;
        broken_ = true;
        return Reply{};
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
    dbg_log(0, "%-20s : Connected on Redis Server : %s with port : %d\n", kFunName, server, static_cast<int>(port));
    if (pending == PendingReply::release && p_redis_reply != nullptr) {
        freeReplyObject(p_redis_reply);
        p_redis_reply = nullptr;
    }
    return 0;
}

}  // namespace dcu::store
