// When the exporter connects a device again after its link stopped by itself.

#include "Backoff.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

struct FixedRandom {
    double Share = 0;
    TBackoff::TRandom Source() {
        return [this] { return Share; };
    }
};

const TBackoff::TClock::time_point START{};

TEST(Backoff, WaitsDoubleFromOneSecondUpToOneMinute) {
    FixedRandom random;
    TBackoff shortest(random.Source());
    const std::chrono::milliseconds expectedLow[] = {1s, 2s, 4s, 8s, 16s, 30s, 30s, 30s};
    for (auto expected : expectedLow)
        EXPECT_EQ(shortest.Stopped(START), expected);
    random.Share = 0.999999;
    TBackoff longest(random.Source());
    const std::chrono::milliseconds expectedHigh[] = {1999ms,  3999ms,  7999ms, 15999ms,
                                                      31999ms, 59999ms, 59999ms};
    for (auto expected : expectedHigh)
        EXPECT_EQ(longest.Stopped(START), expected);
}

TEST(Backoff, RandomOutsideItsRangeStaysWithinTheBounds) {
    FixedRandom random{5.0};
    TBackoff backoff(random.Source());
    for (int i = 0; i < 10; ++i)
        EXPECT_LE(backoff.Stopped(START), TBackoff::LONGEST);
    random.Share = -1;
    TBackoff low(random.Source());
    EXPECT_EQ(low.Stopped(START), TBackoff::SHORTEST);
}

TEST(Backoff, OnlyAConnectionOfAMinuteStartsTheWaitsOver) {
    FixedRandom random;
    TBackoff backoff(random.Source());
    EXPECT_EQ(backoff.Stopped(START), 1s);
    EXPECT_EQ(backoff.Stopped(START), 2s);
    backoff.Connected(START);
    EXPECT_EQ(backoff.Stopped(START + 59s), 4s);
    backoff.Connected(START + 60s);
    EXPECT_EQ(backoff.Stopped(START + 120s), 1s);
    EXPECT_EQ(backoff.Stopped(START + 500s), 2s);
}

} // namespace
