#include "core/capture/AudioLane.h"

#include <gtest/gtest.h>

#include "core/replay/ReplayTestSupport.h"
#include "support/CaptureFakes.h"

namespace corvane {
namespace {

using test::FakeAudioEncoderFactory;

constexpr int64_t kOrigin = 48000 * 100;  // capture clock, in samples

AudioBlock tone(int64_t firstSample, int64_t frames) {
    AudioBlock b;
    b.pts = MediaTime(firstSample, 48000);
    b.samples.assign(size_t(frames) * 2, 0.5f);
    return b;
}

// Frames of silence in a run's input.
int64_t silentFrames(const std::vector<float>& fed) {
    int64_t n = 0;
    for (size_t i = 0; i < fed.size(); i += 2) n += fed[i] == 0;
    return n;
}

struct LaneRig {
    test::SteppedClock clock;
    CorvaneRingBuffer buffer{130, clock};
    FakeAudioEncoderFactory encoders;
    AudioLane lane{encoders, buffer};

    // Twelve seconds of video around the audio, so the buffer gives a clip to look at.
    void appendVideo() {
        for (int i = 0; i < 12 * 30; ++i)
            buffer.appendVideo(test::videoPacket(100 + i / 30.0, i % 30 == 0), i % 30 == 0);
    }
};

TEST(AudioLane, HolesOverTwoMillisecondsBecomeSilenceAndOverlapsAreCut) {
    struct Case { const char* name; int64_t secondBlockAt; int64_t expectedSilence; int64_t expectedFed; };
    const Case cases[] = {
        {"follows on", kOrigin + 960, 0, 1920},
        {"1 ms hole: within the tolerance", kOrigin + 960 + 48, 0, 1920},
        {"3 ms hole: filled", kOrigin + 960 + 144, 144, 1920 + 144},
        {"5 ms overlap: cut", kOrigin + 960 - 240, 0, 1920 - 240},
        {"wholly inside what was encoded: dropped", kOrigin - 2000, 0, 960},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LaneRig rig;
        rig.lane.push(tone(kOrigin, 960));
        rig.lane.push(tone(c.secondBlockAt, 960));
        ASSERT_EQ(rig.encoders.runs.size(), 1u);
        EXPECT_EQ(int64_t(rig.encoders.runs[0]->fed.size()) / 2, c.expectedFed);
        EXPECT_EQ(silentFrames(rig.encoders.runs[0]->fed), c.expectedSilence);
    }
}

TEST(AudioLane, PacketsLandOnTheCaptureClockAndRunsEndAtLongHolesAndOnRequest) {
    LaneRig rig;
    for (int64_t at = kOrigin; at < kOrigin + 48000; at += 960) rig.lane.push(tone(at, 960));
    // 12 s later: too long to feed as silence; a new run begins there (after the clip below).
    rig.lane.push(tone(kOrigin + 13 * 48000, 960));
    ASSERT_EQ(rig.encoders.runs.size(), 2u);
    EXPECT_TRUE(rig.encoders.runs[0]->finished);
    EXPECT_EQ(silentFrames(rig.encoders.runs[0]->fed), 0);
    rig.lane.endRun();
    EXPECT_TRUE(rig.encoders.runs[1]->finished);
    rig.lane.endRun();  // between runs: nothing

    rig.appendVideo();
    ClipSelection clip = rig.buffer.getSamplesForClip(30, true);
    ASSERT_TRUE(clip);
    std::vector<std::shared_ptr<const AudioStreamFormat>> formats;
    for (const ClipAudioPacket& p : clip.clip->audio.packets) {
        if (!p.packet) continue;
        EXPECT_EQ(p.pts, p.packet->pts) << "the first run's packets stay where they were stamped";
        if (formats.empty() || formats.back() != p.packet->format) formats.push_back(p.packet->format);
        if (p.packet->pts < MediaTime(kOrigin, 48000)) {
            EXPECT_EQ(p.packet->data[0], 0) << "priming";
        }
    }
    EXPECT_EQ(formats.size(), 1u) << "the second run lies after the clip's end";
    // Priming, then a second of sound (47 frames, the last one padded), all stamped from the origin.
    const auto& packets = clip.clip->audio.packets;
    const auto first = std::find_if(packets.begin(), packets.end(), [](const ClipAudioPacket& p) { return p.packet != nullptr; });
    ASSERT_NE(first, packets.end());
    EXPECT_EQ(first->packet->pts, MediaTime(kOrigin - 1024, 48000));
    EXPECT_EQ(std::count_if(packets.begin(), packets.end(), [](const ClipAudioPacket& p) { return p.packet != nullptr; }), 1 + 47);
}

TEST(AudioLane, WithoutAnEncoderTheBlocksAreDroppedOnce) {
    LaneRig rig;
    rig.encoders.failToOpen = true;
    test::LogCapture log;
    rig.lane.push(tone(kOrigin, 960));
    rig.lane.push(tone(kOrigin + 960, 960));
    EXPECT_EQ(log.count("[Corvane] Audio encoder unavailable; clips get silence."), 1);
    rig.appendVideo();
    EXPECT_EQ(rig.buffer.getStatus().audioCount, 0u);
}

}  // namespace
}  // namespace corvane
