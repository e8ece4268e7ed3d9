#include "tests/fuzz/recording_store.hpp"

#include <hiredis/hiredis.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <string_view>
#include <utility>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/lsan_interface.h>
#define DCU_FUZZ_HAS_LSAN 1
#endif
#endif

namespace dcu::fuzz {

namespace {

// The client's bytes, read in blocks (a command is many small pieces).
class Input {
public:
    explicit Input(int fd) : fd_(fd) {}

    // One line without its "\r\n"; false at the end of the stream.
    bool line(std::string &out) {
        out.clear();
        for (;;) {
            const std::size_t end = buffered_.find('\n', at_);
            if (end != std::string::npos) {
                out.assign(buffered_, at_, end - at_);
                at_ = end + 1;
                if (!out.empty() && out.back() == '\r') out.pop_back();
                return true;
            }
            if (!fill()) return false;
        }
    }

    // Exactly n bytes; false at the end of the stream.
    bool exactly(std::string &out, std::size_t n) {
        while (buffered_.size() - at_ < n)
            if (!fill()) return false;
        out.assign(buffered_, at_, n);
        at_ += n;
        return true;
    }

private:
    bool fill() {
        buffered_.erase(0, at_);
        at_ = 0;
        char block[16384];
        ssize_t got;
        do got = ::read(fd_, block, sizeof block);
        while (got < 0 && errno == EINTR);
        if (got <= 0) return false;
        buffered_.append(block, static_cast<std::size_t>(got));
        return true;
    }

    int fd_;
    std::string buffered_;
    std::size_t at_ = 0;
};

void ignore_allocations_for_leak_check() {
#ifdef DCU_FUZZ_HAS_LSAN
    __lsan_disable();  // for this thread, for good
#endif
}

bool write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

RecordingStore::RecordingStore(store::Connection &connection) : connection_(connection) {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) throw std::runtime_error("socketpair failed");
    far_end_ = fds[1];
    server_ = std::thread([this] {
        // Signals are for the main thread (libFuzzer's timer among them): an
        // interrupted read here would end the stand-in and leave the client
        // waiting for ever.
        sigset_t all;
        ::sigfillset(&all);
        ::pthread_sigmask(SIG_BLOCK, &all, nullptr);
        // The stand-in's buffers are not the code under test, and the leak
        // check after an input may catch this thread in the middle of one.
        ignore_allocations_for_leak_check();
        serve(far_end_);
    });
    connection_.adopt(redisConnectFd(fds[0]));
}

RecordingStore::~RecordingStore() {
    connection_.close();  // closes the near end: the server sees the end
    server_.join();
    ::close(far_end_);
}

std::vector<std::vector<std::string>> RecordingStore::take() {
    std::lock_guard lock(mutex_);
    return std::exchange(commands_, {});
}

// Commands arrive as RESP arrays of bulk strings: *N, then $len and the bytes, N times.
void RecordingStore::serve(int fd) {
    serve_commands(fd);
    // However serving ended, the client must see the connection end rather
    // than wait for a reply that will never come; connected() says so from
    // before the client can see it.
    {
        std::lock_guard lock(mutex_);
        cut_ = true;
    }
    ::shutdown(fd, SHUT_RDWR);
}

void RecordingStore::serve_commands(int fd) {
    Input input(fd);
    std::string line, bulk;
    while (input.line(line)) {
        if (line.empty() || line[0] != '*') return;
        const long count = std::strtol(line.c_str() + 1, nullptr, 10);
        std::vector<std::string> args;
        for (long i = 0; i < count; ++i) {
            if (!input.line(line) || line.empty() || line[0] != '$') return;
            const long length = std::strtol(line.c_str() + 1, nullptr, 10);
            if (length < 0 || !input.exactly(bulk, static_cast<std::size_t>(length) + 2)) return;
            bulk.resize(static_cast<std::size_t>(length));
            args.push_back(bulk);
        }
        std::optional<std::string> reply = std::string("+OK\r\n");
        {
            std::lock_guard lock(mutex_);
            if (responder_) reply = responder_(args);
            commands_.push_back(std::move(args));
        }
        if (!reply || !write_all(fd, *reply)) return;  // no reply: the connection is cut here
    }
}

void RecordingStore::respond_with(Responder responder) {
    std::lock_guard lock(mutex_);
    responder_ = std::move(responder);
}

bool RecordingStore::connected() const {
    std::lock_guard lock(mutex_);
    return !cut_;
}

}  // namespace dcu::fuzz
