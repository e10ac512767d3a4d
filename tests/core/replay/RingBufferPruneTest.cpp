#include <algorithm>
#include <limits>
#include <thread>

#include <gtest/gtest.h>

#include "ReplayTestSupport.h"

namespace corvane {
namespace {

using namespace test;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(RingBufferLength, ShortAndNonNumberLengthsFloorAtFiveAndHugeOnesAreCapped) {
    SteppedClock clock;
    CorvaneRingBuffer buffer(2, clock), nanBuffer(kNaN, clock);
    EXPECT_EQ(nanBuffer.maxDurationSeconds(), 5.0);
    buffer.updateMaxDuration(kNaN);
    EXPECT_EQ(buffer.maxDurationSeconds(), 5.0);
    // 20 s of frames keep 5 s plus less than one keyframe interval, from a keyframe.
    appendStream(buffer, 0, 20, 30, 0.5);
    const RingBufferStatus status = buffer.getStatus();
    EXPECT_GE(status.duration, 5.0);
    EXPECT_LT(status.duration, 5.5);

    // The up-front reservation must not explode for absurd lengths; such a buffer keeps everything.
    for (double huge : {1e12, std::numeric_limits<double>::infinity()}) {
        EXPECT_EQ(CorvaneRingBuffer::videoReservation(huge), CorvaneRingBuffer::videoReservation(600));
        EXPECT_EQ(CorvaneRingBuffer::audioReservation(huge), CorvaneRingBuffer::audioReservation(600));
    }
    CorvaneRingBuffer everything(1e12, clock);
    appendStream(everything, 0, 20);
    EXPECT_EQ(everything.getStatus().videoCount, 600u);
}

TEST(RingBufferPruning, AudioFollowsTheOldestFrameWithThreeSecondsLead) {
    SteppedClock clock;
    CorvaneRingBuffer buffer(5, clock);
    const auto run = audioRun();
    buffer.appendAudio(audioPacketAt(0, run));
    EXPECT_EQ(buffer.getStatus().audioCount, 0u);  // nothing is reported without video
    for (int i = 1; i < 10; ++i) buffer.appendAudio(audioPacketAt(i * 0.02, run));
    appendStream(buffer, 10, 12);
    buffer.appendAudio(audioPacketAt(0.2, run));  // all older than 10 - 3 s: kept rather than emptied...
    EXPECT_EQ(buffer.getStatus().audioCount, 11u);
    buffer.appendAudio(audioPacketAt(9.0, run));  // ...until one is newer: the old ones go
    EXPECT_EQ(buffer.getStatus().audioCount, 1u);
    buffer.appendAudio(audioPacketAt(6.5, run));  // arrival order is kept; 6.5 >= 10 - 3.5 is kept
    const RingBufferStatus status = buffer.getStatus();
    EXPECT_EQ(status.audioCount, 2u);
    EXPECT_EQ(status.memoryBytes, 2 * 100 + status.videoCount * 1000);

    buffer.clear();
    EXPECT_EQ(buffer.getStatus().memoryBytes, 0u);
    EXPECT_FALSE(buffer.getSamplesForClip(10, false));
}

TEST(RingBufferPruning, AudioWithoutTimeDurationOrFormatIsDroppedAndPacketsAreShared) {
    SteppedClock clock;
    CorvaneRingBuffer buffer(5, clock);
    appendStream(buffer, 0, 2);
    auto noTime = std::make_shared<AudioPacket>(*audioPacketAt(0.5, audioRun()));
    auto noLength = std::make_shared<AudioPacket>(*noTime), noFormat = std::make_shared<AudioPacket>(*noTime);
    noTime->pts = MediaTime::invalid();
    noLength->duration = MediaTime::invalid();
    noFormat->format = nullptr;
    for (const AudioPacketRef& bad : {AudioPacketRef(noTime), AudioPacketRef(noLength), AudioPacketRef(noFormat), AudioPacketRef()})
        buffer.appendAudio(bad);
    EXPECT_EQ(buffer.getStatus().audioCount, 0u);

    const AudioPacketRef packet = audioPacketAt(1.0, audioRun());
    buffer.appendAudio(packet);
    ClipSelection clip = buffer.getSamplesForClip(30, true);
    ASSERT_TRUE(clip);
    const auto& packets = clip.clip->audio.packets;
    EXPECT_EQ(std::count_if(packets.begin(), packets.end(), [&](const ClipAudioPacket& p) { return p.packet == packet; }), 1)
        << "the clip holds the buffer's own packet, not a copy";
}

TEST(RingBufferPruning, LeadingDeltasWaitForAKeyframeAndAReplacedEncodersOutputIsDropped) {
    SteppedClock clock;
    CorvaneRingBuffer buffer(5, clock);
    for (int i = 0; i < 300; ++i) buffer.appendVideo(videoPacket(i / 30.0, false), false);
    EXPECT_EQ(buffer.getStatus().videoCount, 300u);  // nothing decodable to keep yet
    // The first keyframe after the cutoff removes the undecodable frames before it.
    buffer.appendVideo(videoPacket(10.0, true), true);
    EXPECT_EQ(buffer.getStatus().videoCount, 1u);

    auto oldFormat = std::make_shared<const VideoStreamFormat>(), newFormat = std::make_shared<const VideoStreamFormat>();
    buffer.appendVideo(videoPacket(10.5, true, oldFormat, 1000, 1), true);
    // Restart: clear, then the old encoder's flush arrives before the new one's first packet.
    buffer.clear();
    buffer.appendVideo(videoPacket(1.0, false, oldFormat, 1000, 1), false);
    buffer.appendVideo(videoPacket(1.1, false, oldFormat, 1000, 1), false);
    buffer.appendVideo(videoPacket(2.0, true, newFormat, 1000, 2), true);
    EXPECT_EQ(buffer.getStatus().videoCount, 1u);
    buffer.appendVideo(videoPacket(2.1, false, oldFormat, 1000, 1), false);  // and anything later
    EXPECT_EQ(buffer.getStatus().videoCount, 1u);
    // Without a clear in between, a new encoder's packets do not throw away history.
    buffer.appendVideo(videoPacket(2.2, true, newFormat, 1000, 3), true);
    EXPECT_EQ(buffer.getStatus().videoCount, 2u);
}

// Appenders, clip requests, status reads, length changes and clears racing. Meant for the
// ThreadSanitizer build; here it checks the invariants every reader must be able to rely on.
TEST(RingBufferConcurrency, ReadersSeeConsistentStateWhileAppendsRace) {
    SteppedClock clock;
    CorvaneRingBuffer buffer(5, clock);
    std::atomic<bool> stop{false};
    std::atomic<int> clips{0};
    std::thread video([&] { appendStream(buffer, 0, 100); });
    std::thread audio([&] {
        const auto run = audioRun();
        for (int i = 0; i < 5000; ++i) buffer.appendAudio(audioPacket(i * 1024, run));
    });
    std::thread reader([&] {
        while (!stop || clips.load() == 0) {
            if (ClipSelection r = buffer.getSamplesForClip(3, true)) {
                ++clips;
                EXPECT_TRUE(r.clip->video.front()->isKeyframe);
                EXPECT_GE(r.clip->video.size(), 2u);
            }
            EXPECT_GE(buffer.getStatus().duration, 0);
        }
    });
    std::thread admin([&] {
        for (int i = 0; !stop; ++i) {
            buffer.updateMaxDuration(5 + i % 3);
            if (i % 50 == 0) buffer.clear();
            std::this_thread::yield();
        }
    });
    for (std::thread* t : {&video, &audio}) t->join();
    stop = true;
    admin.join();
    // On a busy machine the clears may have won every time: one more stream for the reader.
    appendStream(buffer, 200, 205);
    reader.join();
    EXPECT_GT(clips.load(), 0);
}

}  // namespace
}  // namespace corvane
