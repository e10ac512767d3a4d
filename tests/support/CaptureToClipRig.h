#pragma once

// From a real screen back end and the speakers to a clip on disk: the session's system audio
// (with a tone playing), the real encoders, buffer and exporter. Shared by the X11 and Wayland
// capture-to-clip tests, which differ only in the screen back end and how long it may take.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <memory>
#include <string>

#include "core/capture/CorvaneCapture.h"
#include "media/CorvaneEncoder.h"
#include "media/CorvaneExporter.h"
#include "media/audio/AacAudioEncoder.h"
#include "platform/audio/PulseSystemAudio.h"
#include "platform/audio/TonePlayer.h"
#include "platform/files/LocalClipFiles.h"
#include "platform/sched/QtMainScheduler.h"
#include "support/CaptureLogLines.h"
#include "support/QtEventWait.h"
#include "support/TempDir.h"
#include "support/TestClip.h"

namespace corvane::test {

struct CaptureToClipTimes {
    std::chrono::milliseconds untilRunning;
    std::chrono::milliseconds untilFirstAudio;
};

// Captures 640x360 at 30 fps with the tone for a few seconds, saves the last two and reads the
// clip back into `clip`. Fails the test (with the log, when audio never came) on the way.
// `afterStart` runs once the stream runs.
inline void captureToClip(ScreenCaptureBackend& screen, CaptureToClipTimes times, DecodedClip& clip,
                          const TempDir& folder, const std::function<void()>& afterStart = {}) {
    using namespace std::chrono_literals;
    LogCapture log;
    QtMainScheduler scheduler;
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
        ASSERT_TRUE(waitUntil([&] { return capture.isRunning(); }, times.untilRunning));
        if (afterStart) afterStart();
        // The health check runs as the app's status timer runs it: it reopens an audio stream the
        // server left silent.
        const auto firstAudio = [&] {
            for (auto waited = 0ms; waited < times.untilFirstAudio; waited += 1s) {
                if (waitUntil([&] { return ring->getStatus().audioCount > 0; }, 1s)) return true;
                capture.checkHealth(false);
            }
            return false;
        };
        ASSERT_TRUE(firstAudio())
            << "no system audio reached the buffer; the log said:\n" << [&] {
                   std::string all;
                   for (const std::string& line : log.lines()) all += line + "\n";
                   return all;
               }();
        serveEvents(3000);  // three seconds of both
        EXPECT_TRUE(capture.stopAndWait(2s));
    }
    LocalClipFiles files;
    ExportProgress progress;
    const ClipExportResult result = CorvaneExporter(files).exportClip(*ring, 2.0, folder.path().string(), true, progress);
    ASSERT_TRUE(result.ok()) << result.reason;
    clip = decodeClip(result.path);
    ASSERT_TRUE(clip.videoStream >= 0 && clip.audioStream >= 0);
    EXPECT_EQ(clip.decodeErrors, 0);
    const ClipStream& video = clip.streams[size_t(clip.videoStream)];
    const ClipStream& sound = clip.streams[size_t(clip.audioStream)];
    EXPECT_EQ(std::vector<int>({video.width, video.height, sound.sampleRate, sound.channels}),
              std::vector<int>({640, 360, 48000, 2}));
    ASSERT_GT(clip.pcm.size(), 2u * 48000);
    double sum = 0;
    for (float v : clip.pcm) sum += double(v) * v;
    EXPECT_GT(std::sqrt(sum / double(clip.pcm.size())), 0.02) << "the tone should be in the clip's audio";
}

}  // namespace corvane::test
