#include "core/time/MediaTime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace corvane {
namespace {

constexpr int64_t kMax = std::numeric_limits<int64_t>::max();

TEST(MediaTime, ComparesExactlyAcrossTimescalesNearTheLimits) {
    // Microsecond wall-clock stamps against 48 kHz audio time: the cross products need 128 bits.
    const int64_t us = 4'000'000'000'000'000'000;  // about 127 000 years in microseconds
    const MediaTime audio(us / 1'000'000 * 48'000, 48'000);
    EXPECT_EQ(MediaTime(us, 1'000'000), audio);
    EXPECT_LT(MediaTime(us - 1, 1'000'000), audio);
    EXPECT_GT(MediaTime(kMax, 1'000'000), MediaTime(kMax, 1'000'001));
    EXPECT_LT(MediaTime(-kMax, 3), MediaTime(-kMax, 7));
}

TEST(MediaTime, InvalidTimesOrderFirstAndPoisonArithmetic) {
    EXPECT_LT(MediaTime::invalid(), MediaTime(-kMax, 1));
    EXPECT_EQ(MediaTime::invalid(), MediaTime(5, 0));
    EXPECT_FALSE((MediaTime::invalid() + MediaTime(1, 1)).isValid());
    EXPECT_FALSE((MediaTime(1, 1) - MediaTime::invalid()).isValid());
    EXPECT_TRUE(std::isnan(MediaTime::invalid().seconds()));
}

TEST(MediaTime, ArithmeticIsExactAcrossTimescalesAndNeverWraps) {
    MediaTime sum = MediaTime(1, 30) + MediaTime(1, 48000);  // lcm 48000
    EXPECT_EQ(sum, MediaTime(1601, 48000));
    EXPECT_EQ(sum.timescale(), 48000);
    EXPECT_EQ(MediaTime(3'000'000, 1'000'000) - MediaTime(48'000, 48'000), MediaTime(2, 1));
    // Timescales whose lcm does not fit 32 bits fall back to the larger one, rounded.
    MediaTime odd = MediaTime(1, 1'000'003) + MediaTime(1, 999'983);
    EXPECT_NEAR(odd.seconds(), 1.0 / 1'000'003 + 1.0 / 999'983, 1e-6);
    // Overflow gives an invalid time instead of wrapping.
    EXPECT_FALSE((MediaTime(kMax, 1) + MediaTime(1, 1)).isValid());
    EXPECT_FALSE((MediaTime(-kMax, 1) - MediaTime(2, 1)).isValid());
    EXPECT_FALSE(MediaTime(kMax, 1).convertedTo(48000).isValid());
}

TEST(MediaTime, ConversionsRoundToNearestAndRejectNonFinite) {
    EXPECT_EQ(MediaTime(2, 3).convertedTo(1000).value(), 667);
    EXPECT_EQ(MediaTime(-2, 3).convertedTo(1000).value(), -667);
    EXPECT_EQ(MediaTime::fromSeconds(1.5, 600), MediaTime(900, 600));
    EXPECT_EQ(MediaTime::fromSeconds(-0.25, 48000).value(), -12000);
    for (double bad : {std::nan(""), double(INFINITY), -double(INFINITY), 1e300}) {
        EXPECT_FALSE(MediaTime::fromSeconds(bad, 600).isValid()) << bad;
    }
    EXPECT_FALSE(MediaTime::fromSeconds(1.0, 0).isValid());
}

}  // namespace
}  // namespace corvane
