#include "media/probe/FfmpegClipProber.h"

#include <sys/stat.h>

#include <fstream>

#include <gtest/gtest.h>

#include "support/TestClip.h"
#include "support/TempDir.h"

namespace corvane {
namespace {

TEST(FfmpegClipProber, ReadsDurationAndAScaledFirstPicture) {
    test::TempDir dir;
    const std::string path = (dir / "wide.mp4").string();
    ASSERT_EQ(test::writeTestClip(path, {.width = 640, .height = 360, .frames = 45, .audio = false}), "");
    const ClipMediaInfo info = FfmpegClipProber(160, 90).probe(path);
    EXPECT_NEAR(info.durationSeconds, 1.5, 0.05);
    EXPECT_EQ(info.thumbnail.width, 160);
    EXPECT_EQ(info.thumbnail.height, 90);
    ASSERT_EQ(info.thumbnail.rgb.size(), 160u * 90 * 3);
    // The picture is the clip's, not a blank: the barcode band of frame 0 is dark, the rest grey.
    EXPECT_LT(info.thumbnail.rgb[0], 60);
    EXPECT_GT(info.thumbnail.rgb[(60 * 160 + 80) * 3], 60);
    EXPECT_NEAR(FfmpegClipProber::probeDuration(path), 1.5, 0.05);
}

TEST(FfmpegClipProber, DamagedOrSpecialFilesGiveNothingAndNeverBlock) {
    test::TempDir dir;
    std::ofstream(dir / "junk.mp4") << "not a clip";
    ASSERT_EQ(::mkfifo((dir / "fifo.mp4").c_str(), 0600), 0);
    for (const char* name : {"junk.mp4", "fifo.mp4", "missing.mp4"}) {
        const ClipMediaInfo info = FfmpegClipProber().probe((dir / name).string());
        EXPECT_EQ(info.durationSeconds, 0) << name;
        EXPECT_TRUE(info.thumbnail.empty()) << name;
    }
}

}  // namespace
}  // namespace corvane
