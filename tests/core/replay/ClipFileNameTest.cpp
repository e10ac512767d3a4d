#include <cmath>
#include <cstdlib>
#include <ctime>

#include <gtest/gtest.h>

#include "core/export/ClipFileName.h"

namespace corvane {
namespace {

WallTime localMoment(int year, int month, int day, int hour, int minute, int second) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&tm));
}

TEST(ClipFileNameTest, LocalTimeWholeSecondsAndCopySuffix) {
    const WallTime when = localMoment(2026, 12, 5, 13, 20, 0);
    EXPECT_EQ(clipFileName(when, 29.6), "Clip_2026-12-05_13-20-00_30s.mp4");
    EXPECT_EQ(clipFileName(when, 29.5), "Clip_2026-12-05_13-20-00_30s.mp4");
    EXPECT_EQ(clipFileName(when, 29.4), "Clip_2026-12-05_13-20-00_29s.mp4");
    EXPECT_EQ(clipFileName(when, 0.4), "Clip_2026-12-05_13-20-00_1s.mp4");
    EXPECT_EQ(clipFileName(when, 30, 2), "Clip_2026-12-05_13-20-00_30s_2.mp4");
    EXPECT_EQ(clipWholeSeconds(std::nan("")), 1);
    EXPECT_EQ(clipWholeSeconds(-3), 1);
}

}  // namespace
}  // namespace corvane
