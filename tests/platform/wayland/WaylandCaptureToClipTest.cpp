// From a Wayland screen and PipeWire's audio server to a clip on disk: the portal capture, the
// PulseAudio client on pipewire-pulse, the real encoder, buffer and exporter. The screen is kept
// still the whole time (an empty workspace), so PipeWire sends next to no pictures: the clip must
// still be video of the full length, with the tone in its audio.
#include "core/capture/CorvaneCapture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "media/CorvaneEncoder.h"
#include "media/CorvaneExporter.h"
#include "media/audio/AacAudioEncoder.h"
#include "platform/audio/PulseSystemAudio.h"
#include "platform/audio/TonePlayer.h"
#include "platform/files/LocalClipFiles.h"
#include "platform/sched/QtMainScheduler.h"
#include "platform/wayland/PortalScreenCapture.h"
#include "support/CaptureLogLines.h"
#include "support/QtEventWait.h"
#include "support/TempDir.h"
#include "support/TestClip.h"

namespace corvane {
namespace {

using namespace std::chrono_literals;

TEST(WaylandCaptureToClip, AStillScreenGivesAFullLengthClipWithSound) {
    ASSERT_EQ(std::system("swaymsg -q 'workspace 2'"), 0) << "run inside scripts/with-wayland-session.sh";
    test::LogCapture quiet;
    test::TempDir state;
    QtMainScheduler scheduler;
    PortalScreenCaptureBackend::Options options;
    options.stateFile = (state / "portal.toml").string();
    PortalScreenCaptureBackend screen(options);
    PulseSystemAudioBackend audio;
    FfmpegVideoEncoderFactory encoders;
    AacAudioEncoderFactory audioEncoders;
    auto ring = std::make_shared<CorvaneRingBuffer>(130.0);
    const CaptureSettings settings{.fps = 30, .targetWidth = 640, .targetHeight = 360, .recordAudio = true};
    {
        CorvaneCapture capture(settings, ring, {screen, &audio, encoders, scheduler, nullptr, &audioEncoders});
        testing::Tone tone;
        ASSERT_TRUE(tone.ok());
        capture.start();
        ASSERT_TRUE(test::waitUntil([&] { return capture.isRunning(); }, 10s));
        // PipeWire's PulseAudio server may take seconds to deliver a new monitor stream's first
        // block on a busy machine; the bound only catches audio that never comes.
        ASSERT_TRUE(test::waitUntil([&] { return ring->getStatus().audioCount > 0; }, 15s))
            << "no system audio reached the buffer; the log said:\n" << [&] {
                   std::string all;
                   for (const std::string& line : quiet.lines()) all += line + "\n";
                   return all;
               }();
        test::serveEvents(3000);
        EXPECT_TRUE(capture.stopAndWait(2s));
    }
    std::system("swaymsg -q 'workspace 1'");
    test::TempDir folder;
    LocalClipFiles files;
    ExportProgress progress;
    const ClipExportResult result = CorvaneExporter(files).exportClip(*ring, 2.0, folder.path().string(), true, progress);
    ASSERT_TRUE(result.ok()) << result.reason;

    const test::DecodedClip clip = test::decodeClip(result.path);
    ASSERT_TRUE(clip.videoStream >= 0 && clip.audioStream >= 0);
    EXPECT_EQ(clip.decodeErrors, 0);
    const test::ClipStream& video = clip.streams[size_t(clip.videoStream)];
    EXPECT_EQ(std::vector<int>({video.width, video.height}), std::vector<int>({640, 360}));
    EXPECT_GE(clip.frameIndices.size(), 50u) << "two seconds at 30 fps of a still screen";
    ASSERT_GT(clip.pcm.size(), 2u * 48000);
    double sum = 0;
    for (float v : clip.pcm) sum += double(v) * v;
    EXPECT_GT(std::sqrt(sum / double(clip.pcm.size())), 0.02) << "the tone should be in the clip's audio";
}

}  // namespace
}  // namespace corvane
