#include "core/window/WindowTitle.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "core/time/WholeSeconds.h"

namespace corvane {
namespace {

TEST(WindowTitleTest, DurationsAndTitles) {
    EXPECT_EQ(formatDuration(59.9), "00:59");
    EXPECT_EQ(formatDuration(754), "12:34");
    EXPECT_EQ(formatDuration(3599.99), "59:59");
    EXPECT_EQ(formatDuration(3725), "01:02:05");
    EXPECT_EQ(formatDuration(360000), "100:00:00");
    EXPECT_EQ(mainWindowTitle(RecordingPair{true, 3725}), "Corvane - 01:02:05");
    EXPECT_EQ(mainWindowTitle(RecordingPair{false, 3725}), "Corvane - Idle");
    EXPECT_EQ(mainWindowTitle(std::nullopt), "Corvane - Idle");
}

TEST(WindowTitleTest, BrokenDurationsNeverReachAnIntegerCast) {
    for (double bad : {-1.0, -1e300, std::nan(""), -std::numeric_limits<double>::infinity()})
        EXPECT_EQ(formatDuration(bad), "00:00") << bad;
    EXPECT_EQ(formatDuration(std::numeric_limits<double>::infinity()), "00:00");
    // Huge values are clamped far past any real run instead of overflowing.
    EXPECT_EQ(formatDuration(1e300), formatDuration(double(int64_t{1} << 40)));
    EXPECT_EQ(truncatedClamped(1e300, 5, 600), 600);
    EXPECT_EQ(truncatedClamped(std::nan(""), 5, 600), 5);
    EXPECT_EQ(truncatedClamped(-7.9), -7);
    EXPECT_EQ(truncatedClamped(9.3e18), std::numeric_limits<int64_t>::max());
}

}  // namespace
}  // namespace corvane
