#include <cmath>
#include <ctime>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "core/export/ClipFileName.h"
#include "core/export/LeftoverClipFiles.h"
#include "support/TempDir.h"

namespace corvane {
namespace {

TEST(ClipFileNameTest, LocalTimeWholeSecondsAndCopySuffix) {
    std::tm tm{0, 20, 13, 5, 11, 126, 0, 0, -1};  // 2026-12-05 13:20:00 local
    const WallTime when = std::chrono::system_clock::from_time_t(std::mktime(&tm));
    const std::string stem = "Clip_2026-12-05_13-20-00_";
    for (auto [seconds, name] : {std::pair{29.6, "30s.mp4"}, {29.5, "30s.mp4"}, {29.4, "29s.mp4"}, {0.4, "1s.mp4"}})
        EXPECT_EQ(clipFileName(when, seconds), stem + name) << seconds;
    EXPECT_EQ(clipFileName(when, 30, 2), stem + "30s_2.mp4");
    EXPECT_EQ(clipFileName(when, 18, 2, 2), stem + "18s_part2_2.mp4");
    EXPECT_EQ(clipWholeSeconds(std::nan("")), 1);
    EXPECT_EQ(clipWholeSeconds(-3), 1);
}

TEST(ClipFileNameTest, OnlyCorvanesOwnLeftoverTemporaryClipsAreRemoved) {
    namespace fs = std::filesystem;
    test::TempDir dir;
    const char* leftovers[] = {".tmp_clip_a1B2c3.mp4", ".tmp_trim_0F1E2D3C-4B5A-4697-8877-665544332211.mp4"};
    const char* kept[] = {
        "Clip_2026-12-05_13-20-00_30s.mp4",
        "tmp_clip_a1B2c3.mp4",                                    // not hidden: the user's
        ".tmp_clip_a1B2c.mp4", ".tmp_clip_a1B2c3d.mp4",           // not six characters
        ".tmp_clip_a1-2c3.mp4", ".tmp_clip_a1B2c3.mp4.part", ".tmp_clip_a1B2c3.mov",
        ".tmp_trim_0f1e2d3c-4b5a-4697-8877-665544332211.mp4",     // lower case: not ours
        ".tmp_trim_0F1E2D3C4B5A-4697-8877-665544332211-.mp4",
    };
    for (const char* name : leftovers) std::ofstream(dir / name) << "partial";
    for (const char* name : kept) std::ofstream(dir / name) << "keep";
    fs::create_directory(dir / ".tmp_clip_FOLDER.mp4");
    fs::create_directory(dir / "sub");
    std::ofstream(dir / "sub" / ".tmp_clip_zzzzzz.mp4") << "not in the clips folder itself";
    std::ofstream(dir / "target.mp4") << "a link's target";
    fs::create_symlink(dir / "target.mp4", dir / ".tmp_clip_LINKED.mp4");

    EXPECT_EQ(removeLeftoverTemporaryClips(dir.path().string()),
              (std::vector<std::string>{leftovers[0], leftovers[1]}));
    for (const char* name : leftovers) EXPECT_FALSE(fs::exists(dir / name)) << name;
    for (const char* name : kept) EXPECT_TRUE(fs::exists(dir / name)) << name;
    EXPECT_TRUE(fs::is_directory(dir / ".tmp_clip_FOLDER.mp4"));
    EXPECT_TRUE(fs::exists(dir / "sub" / ".tmp_clip_zzzzzz.mp4"));
    EXPECT_TRUE(fs::is_symlink(dir / ".tmp_clip_LINKED.mp4"));
    EXPECT_TRUE(fs::exists(dir / "target.mp4"));
    EXPECT_TRUE(removeLeftoverTemporaryClips((dir / "missing").string()).empty());
}

}  // namespace
}  // namespace corvane
