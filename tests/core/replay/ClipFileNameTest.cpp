#include <cmath>
#include <ctime>

#include <gtest/gtest.h>

#include "core/export/ClipFileName.h"

namespace corvane {
namespace {

TEST(ClipFileNameTest, LocalTimeWholeSecondsAndCopySuffix) {
    std::tm tm{0, 20, 13, 5, 11, 126, 0, 0, -1};  // 2026-12-05 13:20:00 local
    const WallTime when = std::chrono::system_clock::from_time_t(std::mktime(&tm));
    const std::string stem = "Clip_2026-12-05_13-20-00_";
    for (auto [seconds, name] : {std::pair{29.6, "30s.mp4"}, {29.5, "30s.mp4"}, {29.4, "29s.mp4"}, {0.4, "1s.mp4"}})
        EXPECT_EQ(clipFileName(when, seconds), stem + name) << seconds;
    EXPECT_EQ(clipFileName(when, 30, 2), stem + "30s_2.mp4");
    EXPECT_EQ(clipWholeSeconds(std::nan("")), 1);
    EXPECT_EQ(clipWholeSeconds(-3), 1);
}

}  // namespace
}  // namespace corvane
