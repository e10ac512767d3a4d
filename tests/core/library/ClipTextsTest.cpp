#include "core/library/ClipTexts.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "core/library/ClipItem.h"

namespace corvane {
namespace {

TEST(ClipTexts, DurationRoundsHalvesAwayAndNeverOverflows) {
    const std::pair<double, const char*> cases[] = {
        {0.4, "0:00"},   {0.5, "0:01"},    {59.5, "1:00"}, {61.5, "1:02"},
        {3725, "62:05"}, {-3, "0:00"},     {std::nan(""), "0:00"},
        {std::numeric_limits<double>::infinity(), "0:00"},
    };
    for (const auto& [seconds, text] : cases) EXPECT_EQ(formatClipDuration(seconds), text) << seconds;
    // A damaged file's absurd duration is clamped, not converted with undefined behaviour.
    EXPECT_FALSE(formatClipDuration(1e300).empty());
}

TEST(ClipTexts, ByteCountsInDecimalFileStyle) {
    EXPECT_EQ(formatByteCount(0), "Zero KB");
    EXPECT_EQ(formatByteCount(1), "1 byte");
    EXPECT_EQ(formatByteCount(999), "999 bytes");
    EXPECT_EQ(formatByteCount(1000), "1 KB");
    EXPECT_EQ(formatByteCount(12'345), "12 KB");
    EXPECT_EQ(formatByteCount(999'999), "1 MB");  // rounding carries into the next unit
    EXPECT_EQ(formatByteCount(1'500'000), "1.5 MB");
    EXPECT_EQ(formatByteCount(2'310'000'000), "2.31 GB");
}

TEST(ClipTexts, TrimTimeTruncatesTenths) {
    EXPECT_EQ(formatTrimTime(0), "0:00.0");
    EXPECT_EQ(formatTrimTime(65.37), "1:05.3");
    EXPECT_EQ(formatTrimTime(600.99), "10:00.9");
    EXPECT_EQ(formatTrimTime(-2), "0:00.0");
    EXPECT_EQ(formatTrimTime(std::nan("")), "0:00.0");
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

TEST(ClipItem, NamePartsKeepTheWrittenExtension) {
    ClipItem clip;
    clip.path = "/clips/My.Clip.MP4";
    clip.name = "My.Clip.MP4";
    EXPECT_EQ(clip.baseName(), "My.Clip");
    EXPECT_EQ(clip.extension(), "MP4");
    EXPECT_EQ(clip.folder(), "/clips");
}

}  // namespace
}  // namespace corvane
