#include "media/trim/FfmpegClipTrimmer.h"

#include <cmath>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "support/TestClip.h"
#include "support/TempDir.h"

namespace corvane {
namespace {

// One 6 s clip (30 fps, keyframe every second, AAC tone) shared by the tests: encoding is the
// slow part.
class FfmpegClipTrimmerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new test::TempDir;
        source_ = (*dir_ / "source.mp4").string();
        ASSERT_EQ(test::writeTestClip(source_), "");
    }
    static void TearDownTestSuite() { delete dir_; }

    TrimOutcome cut(double s, double e, const std::string& out) {
        std::atomic<bool> cancelled{false};
        return FfmpegClipTrimmer().trim(source_, out, s, e, cancelled);
    }
    static inline test::TempDir* dir_ = nullptr;
    static inline std::string source_;
};

TEST_F(FfmpegClipTrimmerTest, CutBetweenKeyframesShowsTheExactFirstFrameWithoutReencoding) {
    const std::string out = (*dir_ / "mid.mp4").string();
    const TrimOutcome r = cut(2.5, 4.5, out);
    ASSERT_EQ(r.status, TrimOutcome::Status::Ok) << r.error.message;
    const test::DecodedClip src = test::decodeClip(source_);
    const test::DecodedClip got = test::decodeClip(out);
    ASSERT_EQ(got.error, "");
    ASSERT_FALSE(got.frameIndices.empty());
    // 2.5 s is frame 75, half a second after the keyframe at 60: no snapping back.
    EXPECT_EQ(got.frameIndices.front(), 75);
    EXPECT_EQ(got.frameIndices.size(), 60u);
    EXPECT_NEAR(got.frameTimes.front(), 0.0, 1e-3);
    EXPECT_NEAR(got.streams.at(size_t(got.videoStream)).durationSeconds, 2.0, 1.0 / 30);
    // Stream copy: the very same codec configuration.
    EXPECT_EQ(got.extradata, src.extradata);
    // Audio kept, starting with the picture and lasting as long, within one AAC frame.
    EXPECT_NEAR(got.audioStart, 0.0, 1024.0 / 48000);
    EXPECT_NEAR(got.audioDuration, 2.0, 2 * 1024.0 / 48000);
    // In sync: the beep of source second 3 sounds with the picture of 3.0 s, i.e. at 0.5 s.
    ASSERT_EQ(got.audioOnsets.size(), 2u);
    EXPECT_NEAR(got.audioOnsets[0], 0.5, 0.01);
    EXPECT_NEAR(got.audioOnsets[1], 1.5, 0.01);
}

// A cut on a keyframe runs to the end, the beeps in step. A cut inside a beep keeps one whole packet
// before the cut (hidden by the edit list) so the decoder is primed, and the first 10 ms already
// carry the full beep (RMS of a 0.25 sine: 0.177).
TEST_F(FfmpegClipTrimmerTest, CutsOnAKeyframeToTheEndAndInsideABeepKeepTheAudioWhole) {
    const std::string toEnd = (*dir_ / "key.mp4").string(), inBeep = (*dir_ / "beep.mp4").string();
    ASSERT_EQ(cut(2.0, 99, toEnd).status, TrimOutcome::Status::Ok);
    const test::DecodedClip got = test::decodeClip(toEnd);
    ASSERT_FALSE(got.frameIndices.empty());
    EXPECT_EQ(got.frameIndices.front(), 60);
    EXPECT_EQ(got.frameIndices.back(), 179);
    // (The source's last AAC frame runs 16 ms past its last picture and holds the start of the
    // next beep, so a fifth onset at 4.0 may follow.)
    ASSERT_GE(got.audioOnsets.size(), 4u);
    for (size_t i = 0; i < 4; ++i) EXPECT_NEAR(got.audioOnsets[i], double(i), 0.01) << i;

    ASSERT_EQ(cut(3.02, 4.0, inBeep).status, TrimOutcome::Status::Ok);
    const test::DecodedClip beep = test::decodeClip(inBeep);
    EXPECT_LE(beep.firstAudioPacketEnd, 0.0);
    EXPECT_NEAR(beep.leadingRms, 0.177, 0.03);
}

TEST_F(FfmpegClipTrimmerTest, RangesWithoutPicturesUnreadableOrCancelledWriteNothing) {
    const std::string junk = (*dir_ / "junk.mp4").string();
    std::ofstream(junk) << "this is not a video";
    std::filesystem::create_directory(*dir_ / "folder.mp4");
    const std::string out = (*dir_ / "none.mp4").string();
    using S = TrimOutcome::Status;
    struct Case { std::string source; double start, end; bool cancel; S status; };
    for (const Case& c : {Case{source_, 7.0, 9.0, false, S::NoVideoInRange}, Case{source_, 3.0, 3.0, false, S::NoVideoInRange},
                          Case{source_, std::nan(""), 3.0, false, S::NoVideoInRange}, Case{source_, 1, 2, true, S::Cancelled},
                          Case{junk, 0, 1, false, S::Failed}, Case{(*dir_ / "folder.mp4").string(), 0, 1, false, S::Failed}}) {
        std::atomic<bool> cancelled{c.cancel};
        const TrimOutcome r = FfmpegClipTrimmer().trim(c.source, out, c.start, c.end, cancelled);
        EXPECT_EQ(r.status, c.status) << c.source << " " << c.start;
        if (c.source == junk) {
            EXPECT_NE(r.error.message.find("cannot be read"), std::string::npos) << r.error.message;
        }
        EXPECT_FALSE(std::filesystem::exists(out)) << c.source << " " << c.start;
    }
}

}  // namespace
}  // namespace corvane
