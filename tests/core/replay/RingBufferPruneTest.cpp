#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "ReplayTestSupport.h"

namespace corvane {
namespace {

using test::appendStream;
using test::at;
using test::audioBlock;
using test::videoPacket;

TEST(RingBufferLength, FloorsShortAndNonNumberLengthsAtFiveSeconds) {
    test::SteppedClock clock;
    CorvaneRingBuffer buffer(2, clock);
    EXPECT_EQ(buffer.maxDurationSeconds(), 5.0);
    buffer.updateMaxDuration(1);
    EXPECT_EQ(buffer.maxDurationSeconds(), 5.0);
    buffer.updateMaxDuration(std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(buffer.maxDurationSeconds(), 5.0);
    CorvaneRingBuffer nanBuffer(std::numeric_limits<double>::quiet_NaN(), clock);
    EXPECT_EQ(nanBuffer.maxDurationSeconds(), 5.0);

    // 20 s of frames keep 5 s (plus less than one keyframe interval).
    appendStream(buffer, 0, 20);
    const RingBufferStatus status = buffer.getStatus();
    EXPECT_GE(status.duration, 5.0);
    EXPECT_LT(status.duration, 6.0);
}

TEST(RingBufferLength, ReservationIsCappedForHugeAndInfiniteLengths) {
    EXPECT_EQ(CorvaneRingBuffer::videoReservation(130), 8500u);
    EXPECT_EQ(CorvaneRingBuffer::videoReservation(300), 300u * 60 + 600);
    EXPECT_EQ(CorvaneRingBuffer::audioReservation(300), 300u * 50 + 500);
    const size_t cap = CorvaneRingBuffer::videoReservation(600);
    EXPECT_EQ(CorvaneRingBuffer::videoReservation(1e12), cap);
    EXPECT_EQ(CorvaneRingBuffer::videoReservation(std::numeric_limits<double>::infinity()), cap);
    EXPECT_EQ(CorvaneRingBuffer::audioReservation(1e300), CorvaneRingBuffer::audioReservation(600));

    // A buffer this long is made at once and keeps everything.
    test::SteppedClock clock;
    CorvaneRingBuffer huge(1e12, clock);
    appendStream(huge, 0, 20);
    EXPECT_EQ(huge.getStatus().videoCount, 600u);
}

TEST(RingBufferPruning, KeepsAtLeastTheLengthAndStartsOnAKeyframe) {
    test::SteppedClock clock;
    CorvaneRingBuffer buffer(10, clock);
    appendStream(buffer, 0, 30, 30, 2.0);
    const RingBufferStatus status = buffer.getStatus();
    EXPECT_GE(status.duration, 10.0);
    EXPECT_LT(status.duration, 12.0);
    EXPECT_EQ(status.memoryBytes, status.videoCount * 1000);
    // The oldest entry is a keyframe: a clip of everything starts right at it.
    ClipSelection clip = buffer.getSamplesForClip(1000, false);
    ASSERT_TRUE(clip);
    EXPECT_TRUE(clip.clip->video.front()->isKeyframe);
    EXPECT_EQ(clip.clip->video.size(), status.videoCount);
}

TEST(RingBufferPruning, WithoutKeyframesNothingIsPrunedAndLeadingDeltasGoLater) {
    test::SteppedClock clock;
    CorvaneRingBuffer buffer(5, clock);
    for (int i = 0; i < 300; ++i) buffer.appendVideo(videoPacket(i / 30.0, false), false);
    EXPECT_EQ(buffer.getStatus().videoCount, 300u);

    // The first keyframe after the cutoff removes the undecodable frames before it.
    buffer.appendVideo(videoPacket(10.0, true), true);
    EXPECT_EQ(buffer.getStatus().videoCount, 1u);
    appendStream(buffer, 10.0 + 1 / 30.0, 12);
    ClipSelection clip = buffer.getSamplesForClip(30, false);
    ASSERT_TRUE(clip);
    EXPECT_EQ(clip.clip->startPTS, at(10.0));
}

TEST(RingBufferPruning, AudioFollowsTheOldestFrameWithThreeSecondsLead) {
    test::SteppedClock clock;
    CorvaneRingBuffer buffer(5, clock);
    // Only old audio: pass 1 keeps it all rather than emptying the list.
    for (int i = 0; i < 10; ++i) buffer.appendAudio(audioBlock(i * 0.02));
    appendStream(buffer, 10, 12);
    buffer.appendAudio(audioBlock(0.2));  // still all older than 10 - 3 s...
    EXPECT_EQ(buffer.getStatus().audioCount, 11u);
    buffer.appendAudio(audioBlock(9.0));  // ...until one is newer: the old ones go
    EXPECT_EQ(buffer.getStatus().audioCount, 1u);
    buffer.appendAudio(audioBlock(6.5));  // arrival order is kept; 6.5 >= 10 - 3.5 is kept
    EXPECT_EQ(buffer.getStatus().audioCount, 2u);
    EXPECT_EQ(buffer.getStatus().memoryBytes, 2 * 960 * 8 + buffer.getStatus().videoCount * 1000);
}

TEST(RingBufferPruning, AudioAloneIsBoundedByTheLengthPlusLead) {
    test::SteppedClock clock;
    CorvaneRingBuffer buffer(5, clock);
    for (int i = 0; i < 1000; ++i) buffer.appendAudio(audioBlock(i * 0.02));  // 20 s
    // Span never beyond max + 3 s; cut back to max + 2 s when exceeded.
    const size_t count = buffer.getStatus().audioCount;  // zero: no video
    EXPECT_EQ(count, 0u);
    buffer.appendVideo(videoPacket(19.98, true), true);
    const RingBufferStatus status = buffer.getStatus();
    EXPECT_LE(status.audioCount, size_t(8.0 / 0.02) + 1);
    EXPECT_GE(status.audioCount, size_t(3.0 / 0.02));
}

TEST(RingBufferPruning, DropsInvalidAndForeignAudioButKeepsAPrivateCopy) {
    test::SteppedClock clock;
    CorvaneRingBuffer buffer(5, clock);
    appendStream(buffer, 0, 2);
    AudioBlock noTime = audioBlock(0.5);
    noTime.pts = MediaTime::invalid();
    AudioBlock mono = audioBlock(0.5);
    mono.channels = 1;
    AudioBlock empty = audioBlock(0.5, 0);
    buffer.appendAudio(noTime);
    buffer.appendAudio(mono);
    buffer.appendAudio(empty);
    buffer.appendVideo(videoPacket(2.5, false, nullptr, 10), false);
    EXPECT_EQ(buffer.getStatus().audioCount, 0u);

    AudioBlock block = audioBlock(1.0, 480, 0.5f);
    buffer.appendAudio(block);
    block.samples.assign(block.samples.size(), -1.0f);  // the caller reuses its memory
    ClipSelection clip = buffer.getSamplesForClip(30, true);
    ASSERT_TRUE(clip);
    bool found = false;
    for (const auto& a : clip.clip->audio)
        if (a->pts == block.pts) {
            found = true;
            EXPECT_EQ(a->samples.front(), 0.5f);
        }
    EXPECT_TRUE(found);
}

TEST(RingBufferStatusTest, ZeroWithoutVideoEvenWhenAudioIsHeldAndEmptyAfterClear) {
    test::SteppedClock clock;
    CorvaneRingBuffer buffer(30, clock);
    buffer.appendAudio(audioBlock(0));
    const RingBufferStatus none = buffer.getStatus();
    EXPECT_EQ(none.duration, 0);
    EXPECT_EQ(none.memoryBytes, 0u);
    EXPECT_EQ(none.audioCount, 0u);

    appendStream(buffer, 0, 3);
    const RingBufferStatus some = buffer.getStatus();
    EXPECT_NEAR(some.duration, 3 - 1 / 30.0, 1e-6);
    EXPECT_EQ(some.videoCount, 90u);
    EXPECT_EQ(some.audioCount, 1u);
    EXPECT_EQ(some.memoryBytes, 90u * 1000 + 960 * 8);

    buffer.clear();
    const RingBufferStatus cleared = buffer.getStatus();
    EXPECT_EQ(cleared.videoCount, 0u);
    EXPECT_EQ(cleared.memoryBytes, 0u);
    EXPECT_FALSE(buffer.getSamplesForClip(10, false));
}

TEST(RingBufferGenerations, LateOutputOfAReplacedEncoderIsDropped) {
    test::SteppedClock clock;
    CorvaneRingBuffer buffer(30, clock);
    auto oldFormat = std::make_shared<const VideoStreamFormat>();
    auto newFormat = std::make_shared<const VideoStreamFormat>();
    for (int i = 0; i < 30; ++i) buffer.appendVideo(videoPacket(i / 30.0, i == 0, oldFormat, 1000, 1), i == 0);

    // Restart: clear, then the old encoder's flush arrives before the new one's first packet.
    buffer.clear();
    buffer.appendVideo(videoPacket(1.0, false, oldFormat, 1000, 1), false);
    buffer.appendVideo(videoPacket(1.1, false, oldFormat, 1000, 1), false);
    EXPECT_EQ(buffer.getStatus().videoCount, 2u);
    buffer.appendVideo(videoPacket(2.0, true, newFormat, 1000, 2), true);
    EXPECT_EQ(buffer.getStatus().videoCount, 1u);
    EXPECT_EQ(buffer.getStatus().memoryBytes, 1000u);
    // And anything later from the old one.
    buffer.appendVideo(videoPacket(2.1, false, oldFormat, 1000, 1), false);
    EXPECT_EQ(buffer.getStatus().videoCount, 1u);

    // Without a clear in between, a new encoder's packets do not throw away history.
    buffer.appendVideo(videoPacket(2.2, true, newFormat, 1000, 3), true);
    EXPECT_EQ(buffer.getStatus().videoCount, 2u);
}

}  // namespace
}  // namespace corvane
