// From the screen and the speakers to a clip on disk: real X11 capture, real system audio, the real
// encoder, buffer and exporter; the clip must decode cleanly with both tracks and the tone in it.
#include "core/capture/CorvaneCapture.h"

#include <gtest/gtest.h>

#include <cmath>

#include "media/CorvaneEncoder.h"
#include "media/CorvaneExporter.h"
#include "platform/files/LocalClipFiles.h"
#include "platform/audio/PulseSystemAudio.h"
#include "platform/audio/TonePlayer.h"
#include "platform/sched/QtMainScheduler.h"
#include "platform/x11/X11ScreenCapture.h"
#include "support/CaptureLogLines.h"
#include "support/TestClip.h"
#include "support/TempDir.h"
#include "platform/capture/XTestSupport.h"  // last: Xlib's macros

namespace corvane {
namespace {

using namespace std::chrono_literals;
using testing::waitUntil;

TEST(CaptureToClip, RealCaptureExportsAPlayableClipWithBothTracks) {
    test::LogCapture quiet;
    QtMainScheduler scheduler;
    X11ScreenCaptureBackend screen;
    PulseSystemAudioBackend audio;
    FfmpegVideoEncoderFactory encoders;
    auto ring = std::make_shared<CorvaneRingBuffer>(130.0);
    const CaptureSettings settings{.fps = 30, .targetWidth = 640, .targetHeight = 360, .recordAudio = true};
    {
        CorvaneCapture capture(settings, ring, {screen, &audio, encoders, scheduler});
        testing::Tone tone;
        ASSERT_TRUE(tone.ok());
        capture.start();
        ASSERT_TRUE(waitUntil([&] { return capture.isRunning(); }, 3s));
        // Audio may take two seconds to flow; then keep three seconds of both.
        ASSERT_TRUE(waitUntil([&] { return ring->getStatus().audioCount > 0; }, 5s)) << "no system audio reached the buffer";
        waitUntil([] { return false; }, 3s);
        EXPECT_TRUE(capture.stopAndWait(2s));
    }
    test::TempDir folder;
    LocalClipFiles files;
    const ClipExportResult result = CorvaneExporter(files).exportClip(*ring, 2.0, folder.path().string(), false, true);
    ASSERT_TRUE(result.ok()) << result.reason;

    const test::DecodedClip clip = test::decodeClip(result.path);
    ASSERT_TRUE(clip.videoStream >= 0 && clip.audioStream >= 0);
    EXPECT_EQ(clip.decodeErrors, 0);
    const test::ClipStream& video = clip.streams[size_t(clip.videoStream)];
    const test::ClipStream& sound = clip.streams[size_t(clip.audioStream)];
    EXPECT_EQ(std::vector<int>({video.width, video.height, sound.sampleRate, sound.channels}),
              std::vector<int>({640, 360, 48000, 2}));
    EXPECT_GE(clip.frameIndices.size(), 45u);  // about two seconds at 30 fps
    ASSERT_GT(clip.pcm.size(), 2u * 48000);
    double sum = 0;
    for (float v : clip.pcm) sum += double(v) * v;
    EXPECT_GT(std::sqrt(sum / double(clip.pcm.size())), 0.02) << "the tone should be in the clip's audio";
}

}  // namespace
}  // namespace corvane
