#include "core/window/WindowTitle.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "core/time/WholeSeconds.h"

namespace corvane {
namespace {

// Broken durations (negative, not a number, infinite) never reach an integer cast; huge ones are
// clamped far past any real run instead of overflowing.
TEST(WindowTitleTest, DurationsTitlesAndBrokenNumbers) {
    const double inf = std::numeric_limits<double>::infinity();
    const std::pair<double, const char*> durations[] = {
        {59.9, "00:59"}, {754, "12:34"}, {3599.99, "59:59"}, {3725, "01:02:05"}, {360000, "100:00:00"},
        {-1.0, "00:00"}, {-1e300, "00:00"}, {std::nan(""), "00:00"}, {-inf, "00:00"}, {inf, "00:00"}};
    for (const auto& [seconds, text] : durations) EXPECT_EQ(formatDuration(seconds), text) << seconds;
    EXPECT_EQ(formatDuration(1e300), formatDuration(double(int64_t{1} << 40)));
    EXPECT_EQ(mainWindowTitle(RecordingPair{false, 3725}), "Corvane - Idle");
    EXPECT_EQ(mainWindowTitle(std::nullopt), "Corvane - Idle");
    EXPECT_EQ(truncatedClamped(1e300, 5, 600), 600);
    EXPECT_EQ(truncatedClamped(std::nan(""), 5, 600), 5);
    EXPECT_EQ(truncatedClamped(-7.9), -7);
    EXPECT_EQ(truncatedClamped(9.3e18), std::numeric_limits<int64_t>::max());
}

}  // namespace
}  // namespace corvane
