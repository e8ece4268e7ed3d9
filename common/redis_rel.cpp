#include <poll.h>
#include <sys/time.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "common/store.hpp"

namespace dcu::store {

namespace {

constexpr const char *kFunName = "redis_init()";

// The log is a host's dbg_log, a C function. Calling it through a pointer
// must not need the C++ half of the sanitizer runtime (clang's check of the
// callee's type), which a C host built with sanitizers does not link.
#if defined(__clang__)
#define DCU_CALLS_C_THROUGH_POINTERS __attribute__((no_sanitize("function")))
#else
#define DCU_CALLS_C_THROUGH_POINTERS
#endif

std::uint64_t g_failed_commands = 0;
const RequestScope *g_current_scope = nullptr;

}  // namespace

// ---- the request's scope ----------------------------------------------------

std::uint64_t failed_commands() noexcept { return g_failed_commands; }

RequestScope::RequestScope() noexcept
    : failed_at_start_(g_current_scope != nullptr ? g_current_scope->failed_at_start_ : g_failed_commands),
      outer_(g_current_scope) {
    g_current_scope = this;
}

RequestScope::~RequestScope() { g_current_scope = outer_; }

const RequestScope *RequestScope::current() noexcept { return g_current_scope; }

// ---- replies ----------------------------------------------------------------

Reply::Reply(redisReply *reply, redisReply **holder) noexcept : reply_(reply), holder_(holder) { *holder_ = reply_; }

Reply::Reply(Reply &&other) noexcept
    : reply_(std::exchange(other.reply_, nullptr)), holder_(std::exchange(other.holder_, nullptr)) {}

Reply &Reply::operator=(Reply &&other) noexcept {
    if (this != &other) {
        release();
        reply_ = std::exchange(other.reply_, nullptr);
        holder_ = std::exchange(other.holder_, nullptr);
    }
    return *this;
}

Reply::~Reply() { release(); }

void Reply::release() noexcept {
    if (reply_ == nullptr) return;
    if (*holder_ == reply_) *holder_ = nullptr;
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

// ---- the connection ---------------------------------------------------------

// A connection that failed stays failed until it is connected again; hiredis
// would still queue every command given to it in its write buffer, which
// would then grow with every request.
bool Connection::usable() const noexcept { return context() != nullptr && context()->err == 0; }

const char *Connection::error_text() const noexcept {
    return context() != nullptr ? context()->errstr : "no store connection";
}

bool Connection::alive() const noexcept {
    if (!usable() || context()->fd < 0) return false;
    pollfd socket{context()->fd, POLLIN | POLLRDHUP, 0};
    int ready;
    do {
        ready = ::poll(&socket, 1, 0);
    } while (ready < 0 && errno == EINTR);
    // Between requests the store has nothing to say: anything readable is
    // the connection's end (a store that restarted or went away) or bytes
    // out of step with the commands.
    return ready == 0;
}

Reply Connection::received(void *reply) noexcept {
    if (reply == nullptr) return no_reply(Failure::now);
    return Reply(static_cast<redisReply *>(reply), last_reply_);
}

// A command that got no reply, because the connection had failed earlier or
// failed just now. hiredis words a time-out as the socket's EAGAIN
// ("Resource temporarily unavailable"); the log should say what happened.
Reply Connection::no_reply(Failure failure) noexcept {
    const int error = errno;
    ++g_failed_commands;
    redisContext *failed = context();
    if (failure == Failure::now && failed != nullptr && failed->err == REDIS_ERR_IO &&
        (error == EAGAIN || error == EWOULDBLOCK))
        std::snprintf(failed->errstr, sizeof failed->errstr, "no reply within %d s", kCommandTimeoutSeconds);
    return Reply{};
}

Reply Connection::command(const char *format, ...) {
    va_list args;
    va_start(args, format);
    Reply reply = command_va(format, args);
    va_end(args);
    return reply;
}

Reply Connection::command_va(const char *format, va_list args) {
    if (!usable()) return no_reply(Failure::earlier);
    return received(redisvCommand(context(), format, args));
}

Reply Connection::command_argv(std::span<const std::string_view> args) {
    if (!usable()) return no_reply(Failure::earlier);
    std::vector<const char *> argv;
    std::vector<std::size_t> argvlen;
    argv.reserve(args.size());
    argvlen.reserve(args.size());
    for (std::string_view arg : args) {
        argv.push_back(arg.data());
        argvlen.push_back(arg.size());
    }
    return received(redisCommandArgv(context(), static_cast<int>(argv.size()), argv.data(), argvlen.data()));
}

void Connection::close() noexcept {
    if (*context_ != nullptr) redisFree(*context_);
    *context_ = nullptr;
}

void Connection::adopt(redisContext *context) noexcept {
    close();
    *context_ = context;
}

DCU_CALLS_C_THROUGH_POINTERS int Connection::connect(const char *server, std::uint16_t port, PendingReply pending) {
    if (log_ != nullptr)
        log_(0, "%-20s : Trying to connect on Redis Server : %s with port : %d\n", kFunName, server ? server : "",
             static_cast<int>(port));
    // A reconnection: the earlier context would otherwise leak.
    close();
    if (server == nullptr) {
        if (log_ != nullptr) log_(0, "%-20s : Connection error: %s\n", kFunName, "no server address");
        return -1;
    }
    const timeval timeout{1, 500000};
    *context_ = redisConnectWithTimeout(server, port, timeout);
    if (context() == nullptr) {
        if (log_ != nullptr) log_(0, "%-20s : Connection error: can't allocate redis context\n", kFunName);
        return -1;
    }
    // Without a time-out a store that stops answering (a paused or hung
    // server) would hold every command, and the process with it, for ever.
    if (context()->err != 0 || redisSetTimeout(context(), timeval{kCommandTimeoutSeconds, 0}) != REDIS_OK) {
        if (log_ != nullptr) log_(0, "%-20s : Connection error: %s\n", kFunName, context()->errstr);
        close();
        return -1;
    }
    if (log_ != nullptr)
        log_(0, "%-20s : Connected on Redis Server : %s with port : %d\n", kFunName, server, static_cast<int>(port));
    if (pending == PendingReply::release && *last_reply_ != nullptr) {
        freeReplyObject(*last_reply_);
        *last_reply_ = nullptr;
    }
    return 0;
}

// ---- command texts ----------------------------------------------------------

namespace {

// The protocol's text of a command: "*<count>\r\n", then "$<length>\r\n<bytes>\r\n"
// for each argument. Arguments are gathered first, one after another in
// `bytes`, since their count comes first.
class CommandText {
public:
    // False when the command would not fit the fixed room (hiredis then writes it).
    bool add(const char *bytes, std::size_t size) noexcept {
        if (size > bytes_.size() - used_) return false;
        std::memcpy(bytes_.data() + used_, bytes, size);
        used_ += size;
        touched_ = true;
        return true;
    }
    void touch() noexcept { touched_ = true; }
    bool end_argument() noexcept {
        if (!touched_) return true;
        if (count_ == ends_.size()) return false;
        ends_[count_++] = used_;
        touched_ = false;
        return true;
    }
    // The whole command in out; its length, 0 when it would not fit.
    std::size_t write(std::span<char> out) const noexcept {
        char *at = out.data();
        char *const end = out.data() + out.size();
        if (!header(at, end, '*', count_)) return 0;
        std::size_t start = 0;
        for (std::size_t i = 0; i < count_; ++i) {
            const std::size_t size = ends_[i] - start;
            if (!header(at, end, '$', size) || static_cast<std::size_t>(end - at) < size + 2) return 0;
            std::memcpy(at, bytes_.data() + start, size);
            at += size;
            *at++ = '\r';
            *at++ = '\n';
            start = ends_[i];
        }
        return static_cast<std::size_t>(at - out.data());
    }

private:
    // "<mark><number>\r\n"
    static bool header(char *&at, char *end, char mark, std::size_t number) noexcept {
        if (end - at < 1) return false;
        *at++ = mark;
        const auto result = std::to_chars(at, end, number);
        if (result.ec != std::errc{} || end - result.ptr < 2) return false;
        at = result.ptr;
        *at++ = '\r';
        *at++ = '\n';
        return true;
    }

    std::array<char, 1024> bytes_;
    std::array<std::size_t, 64> ends_;
    std::size_t used_ = 0;
    std::size_t count_ = 0;
    bool touched_ = false;
};

}  // namespace

// hiredis's own formatting prints each argument's length with sprintf and
// builds every argument a byte at a time: for the commands of a request
// (hundreds of them for the instantaneous answer) that was most of its
// work. The formats the system uses take only %s, %d and %%, so those are
// written here, with hiredis's rules (arguments split at blanks, a
// conversion always makes an argument, even of nothing), byte for byte as
// hiredis would write them; anything else is left to hiredis.
std::size_t detail::format_command(std::span<char> out, const char *format, va_list args) noexcept {
    CommandText text;
    for (const char *c = format; *c != '\0'; ++c) {
        if (*c == ' ') {
            if (!text.end_argument()) return 0;
            continue;
        }
        if (*c != '%' || c[1] == '\0') {
            // A run of plain bytes (a trailing '%' among them) in one go.
            const char *run = c;
            while (c[1] != '\0' && c[1] != ' ' && c[1] != '%') ++c;
            if (c[1] == '%' && c[2] == '\0') ++c;
            if (!text.add(run, static_cast<std::size_t>(c - run + 1))) return 0;
            continue;
        }
        ++c;
        switch (*c) {
        case 's': {
            const char *value = va_arg(args, const char *);
            if (!text.add(value, std::strlen(value))) return 0;
            break;
        }
        case 'd': {
            char digits[16];
            const auto result = std::to_chars(digits, digits + sizeof digits, va_arg(args, int));
            if (!text.add(digits, static_cast<std::size_t>(result.ptr - digits))) return 0;
            break;
        }
        case '%':
            if (!text.add("%", 1)) return 0;
            break;
        default:
            return 0;
        }
        text.touch();
    }
    if (!text.end_argument()) return 0;
    return text.write(out);
}

namespace {

// Appends a printf-style command to the context's output, as
// redisvAppendCommand does.
int append_command(redisContext *context, const char *format, va_list args) noexcept {
    std::array<char, 2048> command;
    va_list copy;
    va_copy(copy, args);
    const std::size_t length = detail::format_command(command, format, copy);
    va_end(copy);
    if (length == 0) return redisvAppendCommand(context, format, args);
    return redisAppendFormattedCommand(context, command.data(), length);
}

}  // namespace

// ---- pipelines --------------------------------------------------------------

Pipeline::~Pipeline() {
    while (taken_ < requested_) next();
}

void Pipeline::append(const char *format, ...) {
    ++requested_;
    if (broken_ || !connection_.usable()) {
        broken_ = true;
        return;
    }
    va_list args;
    va_start(args, format);
    int result = append_command(connection_.context(), format, args);
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
    if (taken_ > appended_ || connection_.context() == nullptr)
        return connection_.no_reply(Connection::Failure::earlier);
    void *reply = nullptr;
    if (redisGetReply(connection_.context(), &reply) != REDIS_OK || reply == nullptr) {
        // The connection is gone: nothing more will come for this pipeline.
        appended_ = taken_ - 1;
        broken_ = true;
        return connection_.no_reply(Connection::Failure::now);
    }
    return Reply(static_cast<redisReply *>(reply), connection_.last_reply_);
}

}  // namespace dcu::store
