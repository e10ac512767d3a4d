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
    EXPECT_EQ(std::pair(info.thumbnail.width, info.thumbnail.height), std::pair(160, 90));
    ASSERT_EQ(info.thumbnail.rgb.size(), 160u * 90 * 3);
    // The picture is the clip's, not a blank: the barcode band of frame 0 is dark, the rest grey.
    EXPECT_LT(info.thumbnail.rgb[0], 60);
    EXPECT_GT(info.thumbnail.rgb[(60 * 160 + 80) * 3], 60);
    EXPECT_NEAR(FfmpegClipProber::probeDuration(path), 1.5, 0.05);

    // The preview's poster: the same picture at any size that fits, never enlarged.
    const struct {
        int maxWidth, maxHeight, width, height;
    } posters[] = {{960, 540, 640, 360}, {320, 320, 320, 180}, {300, 90, 160, 90}};
    for (const auto& p : posters) {
        const Thumbnail poster = FfmpegClipProber().firstPicture(path, p.maxWidth, p.maxHeight);
        EXPECT_EQ(std::pair(poster.width, poster.height), std::pair(p.width, p.height)) << p.maxWidth;
        ASSERT_EQ(poster.rgb.size(), static_cast<size_t>(p.width) * p.height * 3);
        EXPECT_LT(poster.rgb[0], 60);
        EXPECT_GT(poster.rgb[(p.height * 2 / 3 * p.width + p.width / 2) * 3], 60);
    }
}

TEST(FfmpegClipProber, DamagedOrSpecialFilesGiveNothingAndNeverBlock) {
    test::TempDir dir;
    const std::string good = (dir / "good.mp4").string();
    ASSERT_EQ(test::writeTestClip(good, {.frames = 60}), "");
    std::ifstream in(good, std::ios::binary);
    const std::string whole((std::istreambuf_iterator<char>(in)), {});
    std::ofstream(dir / "empty.mp4");
    std::ofstream(dir / "junk.mp4") << "not a clip";
    std::string noise(200000, '\0');
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = char((i * 2654435761u) >> 13);
    std::ofstream(dir / "random.mp4", std::ios::binary) << noise;
    std::ofstream(dir / "cut.mp4", std::ios::binary) << whole.substr(0, whole.size() / 3);
    ASSERT_EQ(::mkfifo((dir / "fifo.mp4").c_str(), 0600), 0);
    const struct {
        const char* name;
        bool damaged;  // a file that is there but holds no playable video
    } cases[] = {{"empty.mp4", true}, {"junk.mp4", true}, {"random.mp4", true}, {"cut.mp4", true},
                 {"fifo.mp4", false}, {"missing.mp4", false}};
    for (const auto& c : cases) {
        const ClipMediaInfo info = FfmpegClipProber().probe((dir / c.name).string());
        EXPECT_EQ(info.durationSeconds, 0) << c.name;
        EXPECT_TRUE(info.thumbnail.empty()) << c.name;
        EXPECT_EQ(info.damaged, c.damaged) << c.name;
        EXPECT_TRUE(FfmpegClipProber().firstPicture((dir / c.name).string(), 960, 540).empty()) << c.name;
    }
    EXPECT_FALSE(FfmpegClipProber().probe(good).damaged);

    // Clips are opened as MP4 first; a clip of another kind, named like one, is still read.
    const std::string other = (dir / "matroska.mp4").string();
    ASSERT_EQ(test::writeTestClip(other, {.frames = 60, .container = "matroska"}), "");
    const ClipMediaInfo info = FfmpegClipProber().probe(other);
    EXPECT_FALSE(info.damaged);
    EXPECT_NEAR(info.durationSeconds, 2.0, 0.05);
}

}  // namespace
}  // namespace corvane
