// The waits between reconnection attempts: drawn at random inside bounds
// that spread a fleet out (the first within 0 to 5 s, the next between
// 0.1 s and a cap doubling from 1 s to 30 s), started again only after a
// connection that stayed up 30 s; without jitter the caps themselves.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <vector>

#include "host/reconnect_backoff.hpp"

namespace {

using dcu::host::ReconnectBackoff;
using Jitter = ReconnectBackoff::Jitter;
using ms = std::chrono::milliseconds;

std::vector<long long> series(ReconnectBackoff &backoff, int count) {
    std::vector<long long> delays;
    for (int i = 0; i < count; ++i) delays.push_back(backoff.next_delay().count());
    return delays;
}

// A source that always gives the same number: the waits at the edges of their bounds.
struct EdgeCase {
    const char *name;
    double value;
    std::vector<long long> delays_ms;
};

const EdgeCase kEdgeCases[] = {
    {"Lowest", 0.0, {0, 100, 100, 100, 100, 100, 100, 100}},
    {"Highest", 0.999999, {4999, 999, 1999, 3999, 7999, 15999, 29999, 29999}},
    {"Middle", 0.5, {2500, 550, 1050, 2050, 4050, 8050, 15050, 15050}},
    // A source out of its range never makes a wait out of its bounds.
    {"AboveOne", 7.0, {5000, 1000, 2000, 4000, 8000, 16000, 30000, 30000}},
    {"Negative", -3.0, {0, 100, 100, 100, 100, 100, 100, 100}},
};

class JitterEdges : public ::testing::TestWithParam<EdgeCase> {};

TEST_P(JitterEdges, FirstWithinFiveSecondsThenBetweenTheFloorAndADoublingCap) {
    const EdgeCase &c = GetParam();
    ReconnectBackoff backoff(Jitter::full, [&c] { return c.value; });
    EXPECT_EQ(series(backoff, 8), c.delays_ms);
}

INSTANTIATE_TEST_SUITE_P(Sources, JitterEdges, ::testing::ValuesIn(kEdgeCases),
                         [](const auto &test) { return std::string(test.param.name); });

TEST(ReconnectBackoff, RandomWaitsStayInsideTheirBoundsAndSpreadOverThem) {
    std::mt19937_64 engine(2024);
    ReconnectBackoff::UniformSource source = [&engine] {
        return std::uniform_real_distribution<double>(0.0, 1.0)(engine);
    };
    std::set<long long> first_tenths;
    for (int unit = 0; unit < 500; ++unit) {
        ReconnectBackoff backoff(Jitter::full, source);
        const auto delays = series(backoff, 9);
        ASSERT_GE(delays[0], 0);
        ASSERT_LE(delays[0], 5000);
        first_tenths.insert(delays[0] / 100);
        long long cap = 1000;
        for (std::size_t i = 1; i < delays.size(); ++i) {
            ASSERT_GE(delays[i], 100) << "wait " << i;
            ASSERT_LE(delays[i], cap) << "wait " << i;
            cap = std::min(cap * 2, 30000LL);
        }
    }
    // 500 units use most of the 50 tenths of the first window, not a few instants.
    EXPECT_GE(first_tenths.size(), 45u);
}

TEST(ReconnectBackoff, WithoutJitterTheWaitsAreTheCapsAndNothingIsDrawn) {
    ReconnectBackoff backoff(Jitter::none, [] {
        ADD_FAILURE() << "a number was drawn";
        return 0.5;
    });
    EXPECT_EQ(series(backoff, 8), (std::vector<long long>{1000, 2000, 4000, 8000, 16000, 30000, 30000, 30000}));
}

// A connection that ended after staying up for a while: the series goes on
// or starts again.
struct LastedCase {
    const char *name;
    Jitter jitter;
    ms up;
    std::vector<long long> after_ms;  // the next three waits
};

const LastedCase kLastedCases[] = {
    {"FlappingGoesOnBackingOff", Jitter::full, ms(1500), {3999, 7999, 15999}},
    {"JustShortOfThirtySeconds", Jitter::full, ms(29999), {3999, 7999, 15999}},
    {"ThirtySecondsStartAgain", Jitter::full, ms(30000), {4999, 999, 1999}},
    {"HoursStartAgain", Jitter::full, ms(3 * 3600 * 1000), {4999, 999, 1999}},
    {"NoJitterFlapping", Jitter::none, ms(1500), {8000, 16000, 30000}},
    {"NoJitterThirtySeconds", Jitter::none, ms(30000), {1000, 2000, 4000}},
};

class ConnectionLasted : public ::testing::TestWithParam<LastedCase> {};

TEST_P(ConnectionLasted, OnlyAConnectionUpThirtySecondsStartsTheWaitsAgain) {
    const LastedCase &c = GetParam();
    ReconnectBackoff backoff(c.jitter, [] { return 0.999999; });
    series(backoff, 3);  // three attempts, the last one accepted
    backoff.connection_lasted(c.up);
    EXPECT_EQ(series(backoff, 3), c.after_ms);
}

INSTANTIATE_TEST_SUITE_P(Connections, ConnectionLasted, ::testing::ValuesIn(kLastedCases),
                         [](const auto &test) { return std::string(test.param.name); });

TEST(ProcessUniformSource, EachSourceDrawsItsOwnNumbersInsideZeroToOne) {
    auto one = dcu::host::process_uniform_source();
    auto other = dcu::host::process_uniform_source();
    std::vector<double> a, b;
    for (int i = 0; i < 64; ++i) {
        a.push_back(one());
        b.push_back(other());
        EXPECT_GE(a.back(), 0.0);
        EXPECT_LT(a.back(), 1.0);
    }
    EXPECT_NE(a, b) << "two sources seeded alike";
}

}  // namespace
