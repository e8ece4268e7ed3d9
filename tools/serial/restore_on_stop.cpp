#include "tools/serial/restore_on_stop.hpp"

#include <atomic>
#include <cstddef>

namespace dcu::serial {

namespace {

// The port whose settings a stop puts back. Set before the handlers are
// installed and cleared after they are removed.
std::atomic<const SerialPort *> g_stoppedPort{nullptr};
static_assert(std::atomic<const SerialPort *>::is_always_lock_free);

void putBackAndStop(int signal) {
    if (const SerialPort *port = g_stoppedPort.load()) port->putSettingsBack();
    // Installed with SA_RESETHAND | SA_NODEFER: the signal has its default
    // action again and is not blocked, so it ends the program right here.
    ::raise(signal);
}

}  // namespace

RestoreOnStop::RestoreOnStop(const SerialPort &port) noexcept {
    g_stoppedPort.store(&port);
    struct sigaction action {};
    action.sa_handler = putBackAndStop;
    action.sa_flags = static_cast<int>(SA_RESETHAND | SA_NODEFER);
    sigemptyset(&action.sa_mask);
    for (std::size_t at = 0; at < kStopSignals.size(); ++at) {
        struct sigaction before {};
        if (::sigaction(kStopSignals[at], nullptr, &before) != 0 || before.sa_handler != SIG_DFL) continue;
        installed_[at] = ::sigaction(kStopSignals[at], &action, nullptr) == 0;
    }
}

RestoreOnStop::~RestoreOnStop() {
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    sigemptyset(&byDefault.sa_mask);
    for (std::size_t at = 0; at < kStopSignals.size(); ++at) {
        if (installed_[at]) ::sigaction(kStopSignals[at], &byDefault, nullptr);
    }
    g_stoppedPort.store(nullptr);
}

}  // namespace dcu::serial
