#include <algorithm>
#include <random>

#include <gtest/gtest.h>

#include "ReplayTestSupport.h"

namespace corvane {
namespace {

using test::appendStream;
using test::at;
using test::audioBlock;
using test::videoPacket;

double seconds(MediaTime t) { return t.seconds(); }

TEST(ClipRefusals, EachRefusalHasItsOwnReasonAndMessage) {
    test::SteppedClock clock;
    test::LogCapture log;
    {
        CorvaneRingBuffer buffer(30, clock);
        ClipSelection none = buffer.getSamplesForClip(30, true);
        EXPECT_EQ(none.refusal, ClipRefusal::Empty);
        EXPECT_TRUE(log.lines().empty());
    }
    {
        CorvaneRingBuffer buffer(30, clock);
        appendStream(buffer, 0, 13 / 30.0);  // 13 frames: 0.40 s between first and last
        ClipSelection r = buffer.getSamplesForClip(30, false);
        EXPECT_EQ(r.refusal, ClipRefusal::NotEnoughVideo);
        EXPECT_EQ(r.message, "Not enough video buffered yet (available: 0.40s < 0.5s)");
        EXPECT_TRUE(log.contains("[Corvane] Not enough video buffered yet (available: 0.40s < 0.5s)"));
    }
    {
        CorvaneRingBuffer buffer(30, clock);
        for (int i = 0; i < 60; ++i) buffer.appendVideo(videoPacket(i / 30.0, false), false);
        ClipSelection r = buffer.getSamplesForClip(30, false);
        EXPECT_EQ(r.refusal, ClipRefusal::NoKeyframe);
        EXPECT_EQ(r.message, "No keyframe found in buffer, cannot create valid clip");
    }
    {
        // The only keyframe is the newest frame itself.
        CorvaneRingBuffer buffer(30, clock);
        for (int i = 0; i < 30; ++i) buffer.appendVideo(videoPacket(i / 30.0, false), false);
        buffer.appendVideo(videoPacket(1.0, true), true);
        ClipSelection r = buffer.getSamplesForClip(0.001, false);
        EXPECT_EQ(r.refusal, ClipRefusal::TooFewFrames);
        EXPECT_EQ(r.message, "Not enough video frames in selected range (1 frames)");
    }
    for (auto [keyAt, shown] : {std::pair{0.85, "0.15"}, std::pair{0.95, "0.10"}}) {
        CorvaneRingBuffer buffer(30, clock);
        buffer.appendVideo(videoPacket(0.0, true), true);
        buffer.appendVideo(videoPacket(keyAt, true), true);
        buffer.appendVideo(videoPacket(1.0, false), false);
        ClipSelection r = buffer.getSamplesForClip(0.01, false);
        EXPECT_EQ(r.refusal, ClipRefusal::TooShort);
        EXPECT_EQ(r.message, std::string("Selected clip duration too short (") + shown + "s)");
    }
}

TEST(ClipRefusals, StaleBufferIsClearedAfterSixtySecondsNotAtSixty) {
    test::SteppedClock clock;
    test::LogCapture log;
    CorvaneRingBuffer buffer(30, clock);
    appendStream(buffer, 0, 5);
    clock.advance(60.0);
    EXPECT_TRUE(buffer.getSamplesForClip(3, false));

    clock.advance(1.7);
    ClipSelection r = buffer.getSamplesForClip(3, false);
    EXPECT_EQ(r.refusal, ClipRefusal::Stale);
    EXPECT_TRUE(log.contains(
        "[Corvane] Buffer is stale (last frame was received 61s ago). Clearing stale buffer."));
    EXPECT_EQ(buffer.getStatus().videoCount, 0u);
}

TEST(ClipSelectionWindow, ShortBufferGivesWhatIsThereAndKeepsTheBuffer) {
    test::SteppedClock clock;
    CorvaneRingBuffer buffer(130, clock);
    appendStream(buffer, 100, 112);
    ClipSelection r = buffer.getSamplesForClip(30, false);
    ASSERT_TRUE(r);
    EXPECT_EQ(r.clip->startPTS, at(100));
    EXPECT_NEAR(r.clip->actualDuration, 12 - 1 / 30.0, 1e-6);
    EXPECT_EQ(r.clip->video.size(), 360u);
    EXPECT_EQ(buffer.getStatus().videoCount, 360u);  // a clip does not consume the buffer

    // A 5 s request starts at the keyframe at or before newest - 5 s.
    ClipSelection five = buffer.getSamplesForClip(5, false);
    ASSERT_TRUE(five);
    EXPECT_EQ(five.clip->startPTS, at(106));
}

// The clip contract over random streams: start on a keyframe at or before newest - N, at least
// min(N, available) long and shorter than N plus the longest keyframe spacing.
TEST(ClipSelectionWindow, ContractHoldsOverRandomStreams) {
    std::mt19937 rng(1234);
    for (int round = 0; round < 40; ++round) {
        test::SteppedClock clock;
        const double maxSeconds = std::uniform_real_distribution<>(5, 40)(rng);
        CorvaneRingBuffer buffer(maxSeconds, clock);
        std::uniform_real_distribution<> jitter(-0.004, 0.004);
        std::uniform_real_distribution<> keyInterval(0.2, 1.0);
        std::uniform_int_distribution<> gapChance(0, 200);
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
            if (gapChance(rng) == 0) t += 0.7;  // a short stall, well under the gap mend
        }
        // Front of the buffer is always a keyframe once pruned.
        ClipSelection all = buffer.getSamplesForClip(1e9, false);
        ASSERT_TRUE(all);
        const double available = buffer.getStatus().duration;
        EXPECT_LT(available, maxSeconds + std::max(maxSpacing, 0.0) + 0.1);

        for (double n : {1.0, 5.0, 12.5, 30.0, 100.0}) {
            ClipSelection r = buffer.getSamplesForClip(n, false);
            ASSERT_TRUE(r) << r.message;
            const ClipSamples& c = *r.clip;
            const double newest = seconds(c.video.back()->pts);
            EXPECT_TRUE(c.video.front()->isKeyframe);
            EXPECT_LE(seconds(c.startPTS), newest - std::min(n, available) + 1e-9);
            EXPECT_GE(c.actualDuration, std::min(n, available) - 1e-9);
            EXPECT_LT(c.actualDuration, n + maxSpacing + 1e-9);
        }
    }
}

TEST(ClipSelectionWindow, KeyframeBeforeAStallIsNotUsedAsTheStart) {
    test::SteppedClock clock;
    CorvaneRingBuffer buffer(130, clock);
    appendStream(buffer, 0, 10);
    appendStream(buffer, 100, 110);  // 90 s without frames (suspend without a sleep event)
    ClipSelection r = buffer.getSamplesForClip(30, true);
    ASSERT_TRUE(r);
    EXPECT_EQ(r.clip->startPTS, at(100));
    EXPECT_NEAR(r.clip->actualDuration, 10 - 1 / 30.0, 1e-6);
    // Silence only for the clip's own span, not for the hole.
    int64_t frames = 0;
    for (const auto& a : r.clip->audio) frames += a->frameCount();
    EXPECT_NEAR(double(frames) / 48000, r.clip->actualDuration, 0.001);

    // A keyframe up to 2 s early is normal and still used.
    CorvaneRingBuffer sparse(130, clock);
    appendStream(sparse, 0, 20, 30, 2.0);
    ClipSelection s = sparse.getSamplesForClip(5.5, false);
    ASSERT_TRUE(s);
    EXPECT_EQ(s.clip->startPTS, at(14));
}

TEST(ClipSelectionWindow, NeverSpansTwoStreamFormats) {
    test::SteppedClock clock;
    CorvaneRingBuffer buffer(130, clock);
    auto first = std::make_shared<const VideoStreamFormat>();
    auto second = std::make_shared<const VideoStreamFormat>();
    for (int i = 0; i < 300; ++i) buffer.appendVideo(videoPacket(i / 30.0, i % 30 == 0, first), i % 30 == 0);
    for (int i = 0; i < 90; ++i)
        buffer.appendVideo(videoPacket(10 + i / 30.0, i % 30 == 0, second), i % 30 == 0);
    ClipSelection r = buffer.getSamplesForClip(30, false);
    ASSERT_TRUE(r);
    EXPECT_EQ(r.clip->startPTS, at(10));
    for (const auto& v : r.clip->video) EXPECT_EQ(v->format, second);

    // Too little of the new format yet: refused, not padded with the old one.
    for (int i = 0; i < 10; ++i) buffer.appendVideo(videoPacket(13 + i / 30.0, i == 0, first), i == 0);
    EXPECT_EQ(buffer.getSamplesForClip(30, false).refusal, ClipRefusal::NotEnoughVideo);
}

int64_t frameCount(const std::vector<AudioSampleRef>& audio) {
    int64_t n = 0;
    for (const auto& a : audio) n += a->frameCount();
    return n;
}

TEST(ClipAudio, SilenceOnlyWhenNothingWasCapturedInHalfSecondChunks) {
    test::SteppedClock clock;
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

    EXPECT_TRUE(buffer.getSamplesForClip(30, false).clip->audio.empty());
}

TEST(ClipAudio, HolesOverTwoMillisecondsAreFilledAndEarlyBlocksLeftOut) {
    test::SteppedClock clock;
    CorvaneRingBuffer buffer(30, clock);
    appendStream(buffer, 1, 2);
    // 20 ms blocks: one starting before the clip, then a 1 ms hole, then a 3 ms hole.
    buffer.appendAudio(audioBlock(0.99, 960));
    buffer.appendAudio(audioBlock(1.01, 960));   // ends at 1.03
    buffer.appendAudio(audioBlock(1.031, 960));  // 1 ms hole: left as is; ends 1.051
    buffer.appendAudio(audioBlock(1.054, 960));  // 3 ms hole: filled
    ClipSelection r = buffer.getSamplesForClip(30, true);
    ASSERT_TRUE(r);
    const auto& audio = r.clip->audio;
    // silence, block, block, silence, block, then 0.89 s of tail silence in two chunks
    ASSERT_EQ(audio.size(), 7u);
    EXPECT_EQ(audio[0]->pts, at(1.0));
    EXPECT_EQ(audio[0]->frameCount(), 480);
    EXPECT_EQ(audio[1]->samples.front(), 0.25f);
    EXPECT_EQ(audio[2]->samples.front(), 0.25f);
    EXPECT_EQ(audio[3]->frameCount(), 144);
    EXPECT_EQ(audio[4]->samples.front(), 0.25f);
    EXPECT_EQ(audio[5]->frameCount(), 24000);
    const MediaTime tailEnd = audio[6]->pts + MediaTime::fromCount(audio[6]->frameCount(), 48000);
    EXPECT_EQ(tailEnd, r.clip->video.back()->pts);
    EXPECT_EQ(frameCount(audio), int64_t(std::llround((r.clip->actualDuration - 0.001) * 48000)));
}

TEST(ClipAudio, SilenceMakerRoundsChunksAndIgnoresTinyDurations) {
    EXPECT_TRUE(createSilenceAudioBuffers(at(0), MediaTime(1, 1000), 0.5).empty());
    auto chunks = createSilenceAudioBuffers(at(2), MediaTime::fromSeconds(1.25, 48000), 0.5);
    ASSERT_EQ(chunks.size(), 3u);
    EXPECT_EQ(chunks[0]->frameCount(), 24000);
    EXPECT_EQ(chunks[2]->frameCount(), 12000);
    EXPECT_EQ(chunks[2]->pts, at(3.0));
    EXPECT_TRUE(createSilenceAudioBuffers(MediaTime::invalid(), at(1), 0.5).empty());
}

}  // namespace
}  // namespace corvane
