#include "core/library/ClipTexts.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

namespace corvane {
namespace {

TEST(ClipTexts, DurationsAndTrimTimesNeverMisreadBadNumbers) {
    const double nan = std::nan(""), inf = std::numeric_limits<double>::infinity();
    // Durations round halves away from zero; trim times truncate to tenths.
    const std::tuple<double, const char*, const char*> cases[] = {
        {0, "0:00", "0:00.0"},      {0.5, "0:01", "0:00.5"},     {59.5, "1:00", "0:59.5"},
        {65.37, "1:05", "1:05.3"},  {600.99, "10:01", "10:00.9"}, {3725, "62:05", "62:05.0"},
        {-3, "0:00", "0:00.0"},     {nan, "0:00", "0:00.0"},     {inf, "0:00", "0:00.0"},
    };
    for (const auto& [seconds, duration, trimTime] : cases) {
        EXPECT_EQ(formatClipDuration(seconds), duration) << seconds;
        EXPECT_EQ(formatTrimTime(seconds), trimTime) << seconds;
    }
    // A damaged file's absurd duration is clamped, not converted with undefined behaviour.
    EXPECT_FALSE(formatClipDuration(1e300).empty());
}

TEST(ClipTexts, ByteCountsInDecimalFileStyle) {
    const std::pair<int64_t, const char*> cases[] = {
        {0, "Zero KB"}, {1, "1 byte"},    {999, "999 bytes"},       {1000, "1 KB"},
        {12'345, "12 KB"}, {999'999, "1 MB"} /* rounding carries */, {1'500'000, "1.5 MB"},
        {2'310'000'000, "2.31 GB"},
    };
    for (const auto& [bytes, text] : cases) EXPECT_EQ(formatByteCount(bytes), text) << bytes;
}

TEST(ClipTexts, DateSaysTodayYesterdayOrDayAndMonth) {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    using namespace std::chrono;
    // 2026-03-01 09:05 UTC; the day before is in February.
    const WallTime now = sys_days{year{2026} / March / 1} + hours(9) + minutes(5);
    EXPECT_EQ(formatClipDate(now - minutes(3), now), "Today, 09:02");
    EXPECT_EQ(formatClipDate(now - hours(10), now), "Yesterday, 23:05");
    EXPECT_EQ(formatClipDate(now - days(9), now), "20 Feb, 09:05");
    EXPECT_EQ(formatClipDate(now - days(400), now), "25 Jan, 09:05");
    const auto twelveHour = [](int h, int m) { return std::to_string(h % 12) + ":" + std::to_string(m) + (h < 12 ? " AM" : " PM"); };
    EXPECT_EQ(formatClipDate(now, now, twelveHour), "Today, 9:5 AM");
}

}  // namespace
}  // namespace corvane
