#include "tests/support/store_proxy.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace dcu::test {

namespace {

// The end of the reply (or command) that starts at `at` in bytes, or npos
// while it is not all there. Both are framed as the store protocol frames them:
// "+", "-" and ":" lines, "$<n>" bulk texts, "*<n>" arrays of replies.
std::size_t reply_end(std::string_view bytes, std::size_t at) {
    constexpr auto npos = std::string_view::npos;
    if (at >= bytes.size()) return npos;
    const std::size_t line_end = bytes.find("\r\n", at);
    if (line_end == npos) return npos;
    const std::size_t next = line_end + 2;
    const long number = std::strtol(std::string(bytes.substr(at + 1, line_end - at - 1)).c_str(), nullptr, 10);
    switch (bytes[at]) {
    case '$':
        if (number < 0) return next;
        return next + static_cast<std::size_t>(number) + 2 <= bytes.size() ? next + static_cast<std::size_t>(number) + 2
                                                                             : npos;
    case '*': {
        std::size_t end = next;
        for (long i = 0; i < number && end != npos; ++i) end = reply_end(bytes, end);
        return end;
    }
    default: return next;
    }
}

bool write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

UniqueFd connect_loopback(std::uint16_t port) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (!fd || ::connect(fd.get(), reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) return {};
    return fd;
}

}  // namespace

// One client and its connection to the store.
struct StoreProxy::Link {
    UniqueFd client;
    UniqueFd store;
    std::string pending;   // replies not yet whole
    std::string requests;  // commands not yet whole, while commands are counted
};

StoreProxy::StoreProxy(std::uint16_t store_port) : store_port_(store_port) {
    listener_.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (!listener_ || ::bind(listener_.get(), reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(listener_.get(), 8) != 0 ||
        ::getsockname(listener_.get(), reinterpret_cast<sockaddr *>(&address), &length) != 0)
        throw std::runtime_error("proxy cannot listen");
    port_ = ntohs(address.sin_port);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("pipe failed");
    wake_read_.reset(fds[0]);
    wake_write_.reset(fds[1]);
    thread_ = std::thread([this] {
        // Signals are for the test's own thread: none interrupts the relay.
        sigset_t all;
        ::sigfillset(&all);
        ::pthread_sigmask(SIG_BLOCK, &all, nullptr);
        relay();
    });
}

StoreProxy::~StoreProxy() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake();
    thread_.join();
}

void StoreProxy::wake() {
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(wake_write_.get(), &byte, 1);
}

void StoreProxy::delay_replies(std::chrono::milliseconds delay) {
    std::lock_guard lock(mutex_);
    faults_.delay = delay;
}

void StoreProxy::delay_next_reply(std::chrono::milliseconds delay) {
    std::lock_guard lock(mutex_);
    faults_.next_delay = delay;
}

void StoreProxy::cut_after_replies(std::size_t replies) {
    {
        std::lock_guard lock(mutex_);
        faults_.cut_in = replies;
        faults_.cut_armed = true;
    }
    wake();
}

void StoreProxy::cut_after_commands(std::size_t commands) {
    {
        std::lock_guard lock(mutex_);
        faults_.commands_in = commands;
        faults_.commands_armed = true;
    }
    wake();
}

void StoreProxy::before_reply(std::size_t reply, std::function<void()> hook) {
    std::lock_guard lock(mutex_);
    faults_.hook_in = reply;
    faults_.hook = std::move(hook);
}

void StoreProxy::behave() {
    std::lock_guard lock(mutex_);
    faults_ = Faults{};
}

std::size_t StoreProxy::replies_passed() const {
    std::lock_guard lock(mutex_);
    return passed_;
}

bool StoreProxy::pass_commands(Link &link, std::string_view bytes) {
    {
        std::lock_guard lock(mutex_);
        if (!faults_.commands_armed) return write_all(link.store.get(), bytes);
    }
    link.requests.append(bytes);
    std::size_t from = 0, end;
    while ((end = reply_end(link.requests, from)) != std::string::npos) {
        {
            std::lock_guard lock(mutex_);
            if (faults_.cut_armed && faults_.cut_in == 0) break;
            if (faults_.commands_armed && faults_.commands_in-- == 0) {
                // The store is gone from this command on: the top of the
                // relay loop ends every connection.
                faults_.cut_in = 0;
                faults_.cut_armed = true;
                break;
            }
        }
        if (!write_all(link.store.get(), std::string_view(link.requests).substr(from, end - from))) return false;
        from = end;
    }
    link.requests.erase(0, from);
    return true;
}

void StoreProxy::relay() {
    std::vector<Link> links;
    char block[65536];
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (stopping_) return;
            if (faults_.cut_armed && faults_.cut_in == 0) links.clear();  // the store is gone: every connection ends
        }
        std::vector<pollfd> fds{{wake_read_.get(), POLLIN, 0}, {listener_.get(), POLLIN, 0}};
        for (const Link &link : links) {
            fds.push_back({link.client.get(), POLLIN, 0});
            fds.push_back({link.store.get(), POLLIN, 0});
        }
        if (::poll(fds.data(), fds.size(), -1) < 0) continue;
        if (fds[0].revents) {
            while (::read(wake_read_.get(), block, sizeof block) > 0) {
            }
        }
        const std::size_t polled = links.size();  // a link accepted now is polled next time round
        if (fds[1].revents & POLLIN) {
            UniqueFd client(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
            UniqueFd store = connect_loopback(store_port_);
            // With the store down the client is turned away as the store would.
            if (client && store) links.push_back({std::move(client), std::move(store), {}, {}});
        }
        std::vector<bool> closed(links.size(), false);
        for (std::size_t i = 0; i < polled; ++i) {
            Link &link = links[i];
            const short client_events = fds[2 + 2 * i].revents, store_events = fds[3 + 2 * i].revents;
            if (client_events) {
                const ssize_t got = ::recv(link.client.get(), block, sizeof block, 0);
                if (got <= 0 || !pass_commands(link, {block, static_cast<std::size_t>(got)})) closed[i] = true;
            }
            if (closed[i] || !store_events) continue;
            const ssize_t got = ::recv(link.store.get(), block, sizeof block, 0);
            if (got <= 0) {
                closed[i] = true;
                continue;
            }
            link.pending.append(block, static_cast<std::size_t>(got));
            // Pass on every whole reply, applying the faults reply by reply.
            std::size_t from = 0, end;
            bool delayed = false;
            while (!closed[i] && (end = reply_end(link.pending, from)) != std::string::npos) {
                std::function<void()> hook;
                std::chrono::milliseconds wait{0};
                bool cut_now = false, cut_after = false;
                {
                    std::lock_guard lock(mutex_);
                    if (faults_.hook && --faults_.hook_in == 0) hook = std::exchange(faults_.hook, nullptr);
                    wait = std::exchange(faults_.next_delay, std::chrono::milliseconds{0});
                    if (!delayed) wait += faults_.delay;
                    if (faults_.cut_armed) {
                        cut_now = faults_.cut_in == 0;
                        cut_after = !cut_now && --faults_.cut_in == 0;
                    }
                }
                delayed = true;
                if (hook) hook();
                if (wait.count() > 0) std::this_thread::sleep_for(wait);
                if (!cut_now) {
                    // Counted before it goes: once the client has it, the count is there.
                    {
                        std::lock_guard lock(mutex_);
                        ++passed_;
                    }
                    if (!write_all(link.client.get(), std::string_view(link.pending).substr(from, end - from)))
                        closed[i] = true;
                }
                from = end;
                if (cut_now || cut_after) break;  // the top of the loop ends every connection
            }
            link.pending.erase(0, from);
        }
        for (std::size_t i = links.size(); i-- > 0;)
            if (closed[i]) links.erase(links.begin() + static_cast<std::ptrdiff_t>(i));
    }
}

}  // namespace dcu::test
