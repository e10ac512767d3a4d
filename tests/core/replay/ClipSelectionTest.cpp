#include <algorithm>
#include <random>

#include <gtest/gtest.h>

#include "ReplayTestSupport.h"

namespace corvane {
namespace {

using namespace test;

TEST(ClipRefusals, EachRefusalHasItsOwnReasonAndMessage) {
    SteppedClock clock;
    LogCapture log;
    EXPECT_EQ(CorvaneRingBuffer(30, clock).getSamplesForClip(30, true).refusal, ClipRefusal::Empty);
    EXPECT_TRUE(log.lines().empty());
    // `deltas` frames every 1/30 s from 0, then keyframes at `keys`, then a delta frame at `last`.
    struct Case { int deltas; std::vector<double> keys; double last, request; ClipRefusal refusal; std::string message; };
    const Case cases[] = {
        {12, {0.4}, -1, 30, ClipRefusal::NotEnoughVideo, "Not enough video buffered yet (available: 0.40s < 0.5s)"},
        {60, {}, -1, 30, ClipRefusal::NoKeyframe, "No keyframe found in buffer, cannot create valid clip"},
        {30, {1.0}, -1, 0.001, ClipRefusal::TooFewFrames, "Not enough video frames in selected range (1 frames)"},
        {0, {0, 0.85}, 1, 0.01, ClipRefusal::TooShort, "Selected clip duration too short (0.15s)"},
        {0, {0, 0.95}, 1, 0.01, ClipRefusal::TooShort, "Selected clip duration too short (0.10s)"},
    };
    for (const Case& c : cases) {
        CorvaneRingBuffer buffer(30, clock);
        for (int i = 0; i < c.deltas; ++i) buffer.appendVideo(videoPacket(i / 30.0, false), false);
        for (double t : c.keys) buffer.appendVideo(videoPacket(t, true), true);
        if (c.last >= 0) buffer.appendVideo(videoPacket(c.last, false), false);
        ClipSelection r = buffer.getSamplesForClip(c.request, false);
        EXPECT_EQ(r.refusal, c.refusal) << c.message;
        EXPECT_EQ(r.message, c.message);
        EXPECT_TRUE(log.contains("[Corvane] " + c.message));
    }

    // A buffer whose newest frame is more than 60 s old is stale and cleared.
    CorvaneRingBuffer buffer(30, clock);
    appendStream(buffer, 0, 5);
    clock.advance(60.0);
    EXPECT_TRUE(buffer.getSamplesForClip(3, false));
    clock.advance(1.7);
    EXPECT_EQ(buffer.getSamplesForClip(3, false).refusal, ClipRefusal::Stale);
    EXPECT_TRUE(log.contains(
        "[Corvane] Buffer is stale (last frame was received 61s ago). Clearing stale buffer."));
    EXPECT_EQ(buffer.getStatus().videoCount, 0u);
}

// The clip contract over random streams: start on a keyframe at or before newest - N, at least
// min(N, available) long and shorter than N plus the longest keyframe spacing; a clip does not
// consume the buffer.
TEST(ClipSelectionWindow, ContractHoldsOverRandomStreams) {
    std::mt19937 rng(1234);
    for (int round = 0; round < 40; ++round) {
        SteppedClock clock;
        const double maxSeconds = std::uniform_real_distribution<>(5, 40)(rng);
        CorvaneRingBuffer buffer(maxSeconds, clock);
        std::uniform_real_distribution<> jitter(-0.004, 0.004), keyInterval(0.2, 1.0), chance(0, 1);
        double t = 50, nextKey = t, maxSpacing = 0, lastKey = -1;
        const double end = t + std::uniform_real_distribution<>(2, 80)(rng);
        while (t < end) {
            const bool key = t >= nextKey;
            if (key) {
                if (lastKey >= 0) maxSpacing = std::max(maxSpacing, t - lastKey);
                lastKey = t;
                nextKey = t + keyInterval(rng);
            }
            buffer.appendVideo(videoPacket(t, key), key);
            t += 1 / 30.0 + jitter(rng);
            if (chance(rng) < 0.005) t += 0.7;  // a short stall, well under the gap mend
        }
        const RingBufferStatus status = buffer.getStatus();
        const double available = status.duration;
        EXPECT_LT(available, maxSeconds + maxSpacing + 0.1);
        for (double n : {1.0, 5.0, 12.5, 30.0, 100.0, 1e9}) {
            ClipSelection r = buffer.getSamplesForClip(n, false);
            ASSERT_TRUE(r) << r.message;
            const ClipSamples& c = *r.clip;
            EXPECT_TRUE(c.video.front()->isKeyframe);
            EXPECT_LE(c.startPTS.seconds(), c.video.back()->pts.seconds() - std::min(n, available) + 1e-9);
            EXPECT_GE(c.actualDuration, std::min(n, available) - 1e-9);
            EXPECT_LT(c.actualDuration, n + maxSpacing + 1e-9);
        }
        EXPECT_EQ(buffer.getStatus().videoCount, status.videoCount);
    }
}

TEST(ClipSelectionWindow, StartIsNeverTakenFromBeforeAStallOrAFormatChange) {
    SteppedClock clock;
    CorvaneRingBuffer buffer(130, clock);
    appendStream(buffer, 0, 10);
    appendStream(buffer, 100, 110);  // 90 s without frames (suspend without a sleep event)
    ClipSelection r = buffer.getSamplesForClip(30, true);
    ASSERT_TRUE(r);
    EXPECT_EQ(r.clip->startPTS, at(100));
    EXPECT_NEAR(r.clip->actualDuration, 10 - 1 / 30.0, 1e-6);
    // Silence only for the clip's own span, not for the hole.
    EXPECT_NEAR(double(frameCount(r.clip->audio)) / 48000, r.clip->actualDuration, 0.001);

    // A keyframe up to 2 s early is normal and still used.
    CorvaneRingBuffer sparse(130, clock);
    appendStream(sparse, 0, 20, 30, 2.0);
    EXPECT_EQ(sparse.getSamplesForClip(5.5, false).clip->startPTS, at(14));

    // Nor is the start taken from before a change of stream format.
    CorvaneRingBuffer formats(130, clock);
    auto first = std::make_shared<const VideoStreamFormat>(), second = std::make_shared<const VideoStreamFormat>();
    appendStream(formats, 0, 10, 30, 1.0, first);
    appendStream(formats, 10, 13, 30, 1.0, second);
    ClipSelection f = formats.getSamplesForClip(30, false);
    ASSERT_TRUE(f);
    EXPECT_EQ(f.clip->startPTS, at(10));
    for (const auto& v : f.clip->video) EXPECT_EQ(v->format, second);

    // Too little of the new format yet: refused, not padded with the old one.
    appendStream(formats, 13, 13 + 10 / 30.0, 30, 1.0, first);
    EXPECT_EQ(formats.getSamplesForClip(30, false).refusal, ClipRefusal::NotEnoughVideo);
}

TEST(ClipAudio, SilenceOnlyWhenNothingWasCapturedInHalfSecondChunks) {
    SteppedClock clock;
    CorvaneRingBuffer buffer(30, clock);
    appendStream(buffer, 0, 3);
    ClipSelection r = buffer.getSamplesForClip(30, true);
    ASSERT_TRUE(r);
    MediaTime expected = r.clip->startPTS;
    for (const auto& a : r.clip->audio) {
        EXPECT_LE(a->frameCount(), 24000);
        EXPECT_EQ(a->pts, expected);
        EXPECT_TRUE(std::all_of(a->samples.begin(), a->samples.end(), [](float v) { return v == 0; }));
        expected = a->pts + MediaTime::fromCount(a->frameCount(), 48000);
    }
    EXPECT_EQ(expected, r.clip->video.back()->pts);
    EXPECT_TRUE(buffer.getSamplesForClip(30, false).clip->audio.empty());  // audio off: none

    EXPECT_TRUE(createSilenceAudioBuffers(at(0), MediaTime(1, 1000), 0.5).empty());
    EXPECT_TRUE(createSilenceAudioBuffers(MediaTime::invalid(), at(1), 0.5).empty());
}

TEST(ClipAudio, HolesOverTwoMillisecondsAreFilledAndEarlyBlocksLeftOut) {
    SteppedClock clock;
    CorvaneRingBuffer buffer(30, clock);
    appendStream(buffer, 1, 2);
    // 20 ms blocks: one starting before the clip, then a 1 ms hole, then a 3 ms hole.
    for (double t : {0.99, 1.01, 1.031, 1.054}) buffer.appendAudio(audioBlock(t, 960));
    ClipSelection r = buffer.getSamplesForClip(30, true);
    ASSERT_TRUE(r);
    const auto& audio = r.clip->audio;
    // silence, block, block, silence, block, then 0.89 s of tail silence in two chunks
    ASSERT_EQ(audio.size(), 7u);
    EXPECT_EQ(audio[0]->pts, at(1.0));
    EXPECT_EQ(audio[0]->frameCount(), 480);
    for (size_t i : {1, 2, 4}) EXPECT_EQ(audio[i]->samples.front(), 0.25f) << i;
    EXPECT_EQ(audio[3]->frameCount(), 144);
    EXPECT_EQ(audio[6]->pts + MediaTime::fromCount(audio[6]->frameCount(), 48000), r.clip->video.back()->pts);
    EXPECT_EQ(frameCount(audio), int64_t(std::llround((r.clip->actualDuration - 0.001) * 48000)));
}

}  // namespace
}  // namespace corvane
