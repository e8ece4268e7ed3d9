#include "host/reconnect_backoff.hpp"

#include <unistd.h>

#include <algorithm>
#include <exception>
#include <memory>
#include <random>
#include <utility>

namespace dcu::host {

ReconnectBackoff::ReconnectBackoff(Jitter jitter, UniformSource uniform)
    : jitter_(jitter), uniform_(std::move(uniform)) {}

ReconnectBackoff::Duration ReconnectBackoff::next_delay() {
    if (jitter_ == Jitter::none) {
        const Duration delay = cap_;
        cap_ = std::min(cap_ * 2, kMaxCap);
        return delay;
    }
    if (std::exchange(first_, false)) return draw(Duration::zero(), kFirstWindow);
    const Duration delay = draw(kFloor, cap_);
    cap_ = std::min(cap_ * 2, kMaxCap);
    return delay;
}

void ReconnectBackoff::connection_lasted(Duration up) {
    if (up >= kStableTime) restart();
}

ReconnectBackoff::Duration ReconnectBackoff::draw(Duration low, Duration high) {
    // A source that strays out of [0, 1) still gives a wait inside the bounds.
    const double u = std::clamp(uniform_(), 0.0, 1.0);
    const auto span = static_cast<double>((high - low).count());
    return std::min(low + Duration(static_cast<Duration::rep>(span * u)), high);
}

void ReconnectBackoff::restart() {
    first_ = true;
    cap_ = kFirstCap;
}

ReconnectBackoff::UniformSource process_uniform_source() {
    std::random_device::result_type device_words[2] = {0, 0};
    try {
        std::random_device device;
        device_words[0] = device();
        device_words[1] = device();
    } catch (const std::exception &) {
        // No random device: the process id and the clock still differ between units.
    }
    const auto now = static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
    std::seed_seq seed{device_words[0],
                       device_words[1],
                       static_cast<std::random_device::result_type>(::getpid()),
                       static_cast<std::random_device::result_type>(now),
                       static_cast<std::random_device::result_type>(now >> 32)};
    auto engine = std::make_shared<std::mt19937_64>(seed);
    return [engine] { return std::uniform_real_distribution<double>(0.0, 1.0)(*engine); };
}

}  // namespace dcu::host
