#include "tests/fuzz/recording_store.hpp"

#include <hiredis/hiredis.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <utility>

#include "dcu/host_services.h"

namespace dcu::fuzz {

namespace {

// Reads exactly n bytes; false at the end of the stream.
bool read_exactly(int fd, std::string &into, std::size_t n) {
    into.resize(n);
    std::size_t got = 0;
    while (got < n) {
        ssize_t r = ::read(fd, into.data() + got, n - got);
        if (r <= 0) return false;
        got += static_cast<std::size_t>(r);
    }
    return true;
}

bool read_line(int fd, std::string &line) {
    line.clear();
    char c = 0;
    while (::read(fd, &c, 1) == 1) {
        if (c == '\n') {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            return true;
        }
        line += c;
    }
    return false;
}

}  // namespace

RecordingStore::RecordingStore() {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) throw std::runtime_error("socketpair failed");
    far_end_ = fds[1];
    server_ = std::thread([this] { serve(far_end_); });
    p_redis_handler = redisConnectFd(fds[0]);
}

RecordingStore::~RecordingStore() {
    if (p_redis_handler != nullptr) redisFree(p_redis_handler);  // closes the near end: the server sees the end
    p_redis_handler = nullptr;
    server_.join();
    ::close(far_end_);
}

std::vector<std::vector<std::string>> RecordingStore::take() {
    std::lock_guard lock(mutex_);
    return std::exchange(commands_, {});
}

// Commands arrive as RESP arrays of bulk strings: *N, then $len and the bytes, N times.
void RecordingStore::serve(int fd) {
    std::string line, bulk;
    while (read_line(fd, line)) {
        if (line.empty() || line[0] != '*') return;
        const long count = std::strtol(line.c_str() + 1, nullptr, 10);
        std::vector<std::string> args;
        for (long i = 0; i < count; ++i) {
            if (!read_line(fd, line) || line.empty() || line[0] != '$') return;
            const long length = std::strtol(line.c_str() + 1, nullptr, 10);
            if (length < 0 || !read_exactly(fd, bulk, static_cast<std::size_t>(length) + 2)) return;
            bulk.resize(static_cast<std::size_t>(length));
            args.push_back(bulk);
        }
        {
            std::lock_guard lock(mutex_);
            commands_.push_back(std::move(args));
        }
        if (::write(fd, "+OK\r\n", 5) != 5) return;
    }
}

}  // namespace dcu::fuzz
