#include "host/stop_signals.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace dcu::host {

namespace {

volatile sig_atomic_t g_stop_requested = 0;
// Both ends of a pipe: the handler writes a byte to wake a waiting poll.
int g_wake_read = -1;
int g_wake_write = -1;

extern "C" void on_stop_signal(int) {
    const int saved_errno = errno;
    g_stop_requested = 1;
    if (g_wake_write >= 0) {
        const char byte = 1;
        [[maybe_unused]] ssize_t written = ::write(g_wake_write, &byte, 1);
    }
    errno = saved_errno;
}

void set_handler(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a blocking call returns early
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

}  // namespace

StopSignals::StopSignals() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("pipe2 failed");
    g_wake_read = fds[0];
    g_wake_write = fds[1];
    g_stop_requested = 0;
    set_handler(on_stop_signal);
}

StopSignals::~StopSignals() {
    set_handler(SIG_DFL);
    ::close(g_wake_read);
    ::close(g_wake_write);
    g_wake_read = g_wake_write = -1;
}

bool StopSignals::requested() const noexcept { return g_stop_requested != 0; }

bool StopSignals::wait(std::chrono::milliseconds delay) const noexcept {
    const auto deadline = std::chrono::steady_clock::now() + delay;
    while (!requested()) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd wake{g_wake_read, POLLIN, 0};
        ::poll(&wake, 1, static_cast<int>(left.count()));
    }
    return requested();
}

}  // namespace dcu::host
