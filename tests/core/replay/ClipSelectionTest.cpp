#include <algorithm>
#include <cmath>
#include <tuple>
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

TEST(ClipSelectionWindow, StartIsNeverTakenFromBeforeAStall) {
    SteppedClock clock;
    CorvaneRingBuffer buffer(130, clock);
    appendStream(buffer, 0, 10);
    appendStream(buffer, 100, 110);  // 90 s without frames (suspend without a sleep event)
    ClipSelection r = buffer.getSamplesForClip(30, true);
    ASSERT_TRUE(r);
    EXPECT_EQ(r.clip->startPTS, at(100));
    EXPECT_NEAR(r.clip->actualDuration, 10 - 1 / 30.0, 1e-6);
    // Silence only for the clip's own span (and one frame of pre-roll), not for the hole.
    EXPECT_EQ(r.clip->audio.packets.size(), size_t(std::ceil((10.0 + 1024.0 / 48000) * 48000 / 1024)));

    // A keyframe up to 2 s early is normal and still used.
    CorvaneRingBuffer sparse(130, clock);
    appendStream(sparse, 0, 20, 30, 2.0);
    EXPECT_EQ(sparse.getSamplesForClip(5.5, false).clip->startPTS, at(14));
}

// Every plan is one grid of whole frames, back to back, from the frame before the start (pre-roll)
// through the frame holding the end, the last cut at the end.
void expectFrameGrid(const ClipAudioTrack& track, MediaTime start, MediaTime end) {
    ASSERT_FALSE(track.packets.empty());
    const MediaTime frame(1024, 48000);
    EXPECT_LE(track.packets[0].pts + frame, start);
    EXPECT_GT(track.packets[0].pts + frame + frame, start);
    for (size_t i = 0; i + 1 < track.packets.size(); ++i) {
        EXPECT_EQ(track.packets[i + 1].pts, track.packets[i].pts + frame) << i;
        EXPECT_EQ(track.packets[i].duration, frame) << i;
    }
    EXPECT_EQ(track.packets.back().pts + track.packets.back().duration, end);
}

TEST(ClipSelectionWindow, ASpanAcrossFormatChangesIsOneClipPerFormat) {
    const auto a = std::make_shared<const VideoStreamFormat>();
    const auto b = std::make_shared<const VideoStreamFormat>(VideoStreamFormat{.width = 1280});
    const auto bAgain = std::make_shared<const VideoStreamFormat>(*b);  // a restart, same picture
    using Runs = std::vector<std::tuple<double, double, std::shared_ptr<const VideoStreamFormat>>>;
    const Runs abb{{0, 10, a}, {10, 12, b}, {12, 13, bAgain}};
    const double f = 1 / 30.0;
    struct Case { const char* name; double maxSeconds; Runs runs; double request; std::vector<std::pair<double, double>> parts; int leftOut; };
    const Case cases[] = {  // parts: first and last frame of each clip
        {"within the newest run", 30, abb, 2, {{10, 13 - f}}, 0},
        {"across one change", 30, abb, 5, {{7, 10 - f}, {10, 13 - f}}, 0},
        {"a short newest run is left out", 30, {{0, 10, a}, {10, 13, b}, {13, 13.3, a}}, 30, {{0, 10 - f}, {10, 13 - f}}, 1},
        {"only the older run is long enough", 30, {{0, 10, a}, {10, 10.3, b}}, 5, {{5, 10 - f}}, 1},
        {"the length prunes the older run", 10, {{0, 8, a}, {8, 15, b}}, 30, {{4, 8 - f}, {8, 15 - f}}, 0},
        {"until it is gone", 10, {{0, 8, a}, {8, 20, b}}, 30, {{9, 20 - f}}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SteppedClock clock;
        LogCapture log;
        CorvaneRingBuffer buffer(c.maxSeconds, clock);
        for (const auto& [from, to, format] : c.runs) appendStream(buffer, from, to, 30, 1.0, format);
        ClipSelection r = buffer.getSamplesForClip(c.request, true);
        ASSERT_TRUE(r);
        ASSERT_EQ(r.earlierParts.size() + 1, c.parts.size());
        for (size_t i = 0; i < c.parts.size(); ++i) {
            const ClipSamples& part = i < r.earlierParts.size() ? r.earlierParts[i] : *r.clip;
            EXPECT_NEAR(part.startPTS.seconds(), c.parts[i].first, 1e-3) << i;
            EXPECT_NEAR(part.video.back()->pts.seconds(), c.parts[i].second, 1e-3) << i;
            EXPECT_TRUE(part.video.front()->isKeyframe);
            for (const auto& v : part.video) EXPECT_TRUE(sameVideoFormat(v->format, part.video.front()->format));
            expectFrameGrid(part.audio, part.startPTS, part.endPTS);
        }
        EXPECT_EQ(log.count("stretch of one video format: too short for a clip of its own"), c.leftOut);
    }
}

TEST(ClipAudio, SilenceOnlyWhenNothingWasCapturedAndNoneWithAudioOff) {
    SteppedClock clock;
    CorvaneRingBuffer buffer(30, clock);
    appendStream(buffer, 0, 3);
    ClipSelection r = buffer.getSamplesForClip(30, true);
    ASSERT_TRUE(r);
    EXPECT_EQ(r.clip->endPTS, at(3 - 1 / 30.0) + MediaTime(1, 30)) << "the newest frame's end";
    EXPECT_EQ(r.clip->audio.format, nullptr) << "never captured: the writer's own silence";
    expectFrameGrid(r.clip->audio, r.clip->startPTS, r.clip->endPTS);
    for (const ClipAudioPacket& p : r.clip->audio.packets) EXPECT_EQ(p.packet, nullptr);
    EXPECT_TRUE(buffer.getSamplesForClip(30, false).clip->audio.packets.empty());

    // Audio captured before (and cleared since) still lends its parameters to the silence.
    const auto run = audioRun();
    buffer.appendAudio(audioPacketAt(2.0, run));
    buffer.clear();
    appendStream(buffer, 5, 7);
    EXPECT_EQ(buffer.getSamplesForClip(30, true).clip->audio.format, run);
}

TEST(ClipAudio, RunsJoinOnTheFirstRunsGridNewerRunsWinAndForeignOnesBecomeSilence) {
    const MediaTime start(480100, 48000), end(480100 + 48000, 48000);
    const auto a = audioRun(), b = audioRun(), foreign = audioRun({0x12, 0x10});
    struct Case {
        const char* name;
        std::vector<std::pair<std::shared_ptr<const AudioStreamFormat>, std::pair<int64_t, int64_t>>> runs;  // format, [first, last] pts
        size_t fromA, fromB, silent;
    };
    // On run A's grid (origin 470,000) the clip takes slots 8 (pre-roll) to 56: 49 frames.
    const Case cases[] = {
        {"one run through", {{a, {470000, 470000 + 60 * 1024}}}, 49, 0, 0},
        {"a gap, then a run 300 samples off the grid",
         {{a, {470000, 470000 + 20 * 1024}}, {b, {470000 + 30 * 1024 + 300, 470000 + 70 * 1024 + 300}}}, 13, 27, 9},
        {"a newer run starting inside the older one's tail",
         {{a, {470000, 470000 + 30 * 1024}}, {b, {470000 + 25 * 1024 - 700, 470000 + 70 * 1024 - 700}}}, 16, 33, 0},
        {"a run that cannot join the newest", {{a, {470000, 470000 + 20 * 1024}}, {foreign, {470000 + 20 * 1024, 470000 + 30 * 1024}},
                                                {b, {470000 + 30 * 1024, 470000 + 70 * 1024}}}, 13, 27, 9},
        {"nothing before a late first run", {{b, {480100 + 10 * 1024, 480100 + 70 * 1024}}}, 0, 37, 11},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<AudioPacketRef> buffered;
        for (const auto& [format, span] : c.runs)
            for (int64_t pts = span.first; pts <= span.second; pts += 1024) buffered.push_back(audioPacket(pts, format));
        const ClipAudioTrack track = planClipAudio(buffered, start, end, nullptr);
        expectFrameGrid(track, start, end);
        EXPECT_EQ(track.format, c.runs.back().first);
        size_t fromA = 0, fromB = 0, silent = 0;
        for (const ClipAudioPacket& p : track.packets) {
            if (!p.packet) ++silent;
            else if (p.packet->format == a) ++fromA;
            else if (p.packet->format == b) ++fromB;
            // A packet is never moved by half a frame or more.
            if (p.packet) {
                EXPECT_LE(std::abs((p.pts - p.packet->pts).convertedTo(48000).value()), 512);
            }
        }
        EXPECT_EQ(std::tuple(fromA, fromB, silent), std::tuple(c.fromA, c.fromB, c.silent));
    }
}

}  // namespace
}  // namespace corvane
