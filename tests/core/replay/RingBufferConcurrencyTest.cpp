#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ReplayTestSupport.h"

namespace corvane {
namespace {

// Appenders, clip requests, status reads, length changes and clears racing. Meant for the
// ThreadSanitizer build; here it checks the invariants every reader must be able to rely on.
TEST(RingBufferConcurrency, ReadersSeeConsistentStateWhileAppendsRace) {
    test::SteppedClock clock;
    CorvaneRingBuffer buffer(5, clock);
    std::atomic<bool> stop{false};
    std::atomic<int> clips{0};

    std::thread video([&] {
        for (int i = 0; i < 3000; ++i)
            buffer.appendVideo(test::videoPacket(i / 30.0, i % 30 == 0), i % 30 == 0);
    });
    std::thread audio([&] {
        for (int i = 0; i < 5000; ++i) buffer.appendAudio(test::audioBlock(i * 0.02));
    });
    std::thread reader([&] {
        while (!stop) {
            ClipSelection r = buffer.getSamplesForClip(3, true);
            if (r) {
                ++clips;
                EXPECT_TRUE(r.clip->video.front()->isKeyframe);
                EXPECT_GE(r.clip->video.size(), 2u);
            }
            const RingBufferStatus s = buffer.getStatus();
            EXPECT_GE(s.duration, 0);
        }
    });
    std::thread admin([&] {
        for (int i = 0; !stop; ++i) {
            buffer.updateMaxDuration(5 + i % 3);
            if (i % 50 == 0) buffer.clear();
            std::this_thread::yield();
        }
    });
    video.join();
    audio.join();
    stop = true;
    reader.join();
    admin.join();
    EXPECT_GT(clips.load(), 0);
    const RingBufferStatus s = buffer.getStatus();
    EXPECT_LE(s.videoCount, 3000u);
}

}  // namespace
}  // namespace corvane
