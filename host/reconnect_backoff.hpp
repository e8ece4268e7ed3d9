// How long dcuhost waits before it tries the broker again.
//
// A fleet loses its broker all at once (a restart, a cluster node that
// fails over): if every unit waited the same 1 s, 2 s, 4 s ..., they would
// all knock at the same instants, again and again, and the broker would
// meet the whole fleet in one second each time. So the waits are drawn at
// random ("full jitter"): the first after a lost connection anywhere within
// 0 to 5 s, each later one between 0.1 s and a cap that doubles from 1 s up
// to 30 s. The series starts again only after a connection that stayed up
// for 30 s, so a link that flaps (two units under one client id, each
// pushing the other off) keeps backing off instead of knocking at the floor
// rate.
//
// Without jitter (dcuhost --no-jitter, kept for comparisons) every wait is
// the cap itself: 1 s, 2 s, 4 s ... 30 s.
#pragma once

#include <chrono>
#include <functional>

namespace dcu::host {

class ReconnectBackoff {
public:
    using Duration = std::chrono::milliseconds;
    // Numbers drawn uniformly from [0, 1).
    using UniformSource = std::function<double()>;
    enum class Jitter { full, none };

    static constexpr Duration kFirstWindow{5000};  // the first wait: 0 to this
    static constexpr Duration kFloor{100};         // later waits: at least this ...
    static constexpr Duration kFirstCap{1000};     // ... and at most the cap, from this
    static constexpr Duration kMaxCap{30000};      // doubling up to this
    static constexpr Duration kStableTime{30000};  // a connection this long starts the series again

    ReconnectBackoff(Jitter jitter, UniformSource uniform);

    // The wait before the next attempt; each call moves the series on.
    Duration next_delay();
    // A connection the broker accepted has ended after staying up this long.
    void connection_lasted(Duration up);

    Jitter jitter() const { return jitter_; }

private:
    Duration draw(Duration low, Duration high);
    void restart();

    Jitter jitter_;
    UniformSource uniform_;
    bool first_ = true;  // the next wait is the first of a series
    Duration cap_ = kFirstCap;
};

// A source seeded for this process alone: the system's random device mixed
// with the process id and the clock, so units started in the same instant
// (a whole area powered up again) draw different waits.
ReconnectBackoff::UniformSource process_uniform_source();

}  // namespace dcu::host
