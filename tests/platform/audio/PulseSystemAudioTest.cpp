// System audio against the session's PulseAudio null sink: a tone played into the sink comes back
// from its monitor as stamped 48 kHz stereo float, and the stream follows a new default sink.
#include "platform/audio/PulseSystemAudio.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/capture/CaptureClock.h"
#include "core/sched/SerialQueue.h"
#include "platform/audio/TonePlayer.h"

namespace corvane {
namespace {

using namespace std::chrono_literals;

class AudioCollector {
public:
    AudioStreamCallbacks callbacks() {
        AudioStreamCallbacks c;
        c.onAudio = [this](const AudioBlock& block) {
            double sum = 0;
            for (float v : block.samples) sum += double(v) * v;
            double rms = block.samples.empty() ? 0 : std::sqrt(sum / double(block.samples.size()));
            std::lock_guard lock(mutex_);
            blocks_.push_back({block.pts, block.frameCount(), block.sampleRate, block.channels, rms});
            changed_.notify_all();
        };
        c.onStopped = [this](const std::string& text) {
            std::lock_guard lock(mutex_);
            stopText_ = text;
        };
        return c;
    }
    // Waits (bounded) for a block louder than `rms` arriving after this call.
    bool waitForSound(double rms, std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        size_t from = blocks_.size();
        return changed_.wait_for(lock, timeout, [&] {
            for (size_t i = from; i < blocks_.size(); ++i)
                if (blocks_[i].rms > rms) return true;
            return false;
        });
    }
    bool waitForBlocks(size_t count, std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return blocks_.size() >= count; });
    }
    struct Info {
        MediaTime pts;
        int64_t frames;
        int32_t rate, channels;
        double rms;
    };
    std::vector<Info> blocks() {
        std::lock_guard lock(mutex_);
        return blocks_;
    }
    std::string stopText() {
        std::lock_guard lock(mutex_);
        return stopText_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Info> blocks_;  // guarded by mutex_
    std::string stopText_;      // guarded by mutex_
};

TEST(PulseSystemAudio, ToneComesBackStampedBySampleCount) {
    AudioCollector audio;
    SerialQueue queue("test-audio");  // joined before the collector goes
    PulseSystemAudioBackend backend;
    auto stream = backend.openSystemAudio(queue, audio.callbacks());
    ASSERT_TRUE(stream.ok()) << "no PulseAudio: run inside scripts/with-test-session.sh ("
                             << stream.error().message << ")";
    testing::Tone tone;
    ASSERT_TRUE(tone.ok());
    // The null sink's monitor can take about two seconds to deliver its first data.
    EXPECT_TRUE(audio.waitForSound(0.1, 6s)) << "the tone never reached the monitor";
    EXPECT_TRUE(audio.waitForBlocks(audio.blocks().size() + 25, 3s));  // half a second more
    MediaTime now = captureClockNow();
    stream.value()->stop();
    queue.waitIdle();

    auto blocks = audio.blocks();
    ASSERT_GT(blocks.size(), 2u);
    for (size_t i = 0; i < blocks.size(); ++i) {
        EXPECT_EQ(blocks[i].rate, 48000);
        EXPECT_EQ(blocks[i].channels, 2);
        EXPECT_EQ(blocks[i].pts.timescale(), 48000);
        if (i > 0) {
            // Exactly one block's worth of samples apart: no drift from wall-clock jitter.
            EXPECT_EQ(blocks[i].pts, blocks[i - 1].pts + MediaTime(blocks[i - 1].frames, 48000));
        }
    }
    double age = (now - blocks.back().pts).seconds();
    EXPECT_GT(age, -0.5);
    EXPECT_LT(age, 3.0) << "audio stamps must be on the capture clock";
    EXPECT_TRUE(audio.stopText().empty());  // a deliberate stop is not reported
}

TEST(PulseSystemAudio, FollowsANewDefaultSink) {
    ASSERT_EQ(std::system("pactl load-module module-null-sink sink_name=corvane_probe_sink "
                          "rate=48000 channels=2 >/tmp/corvane_probe_module 2>/dev/null"),
              0);
    // The session's other tests expect their sink back, whatever happens here.
    struct Restore {
        ~Restore() {
            int rc = std::system("pactl set-default-sink corvane_test_sink; "
                                 "pactl unload-module $(cat /tmp/corvane_probe_module)");
            (void)rc;
        }
    } restore;
    AudioCollector audio;
    SerialQueue queue("test-audio");  // joined before the collector goes
    PulseSystemAudioBackend backend;
    auto stream = backend.openSystemAudio(queue, audio.callbacks());
    ASSERT_TRUE(stream.ok());
    testing::Tone tone("corvane_probe_sink");  // not the default yet: the monitor hears silence
    EXPECT_FALSE(audio.waitForSound(0.1, 2s));
    ASSERT_EQ(std::system("pactl set-default-sink corvane_probe_sink"), 0);
    EXPECT_TRUE(audio.waitForSound(0.1, 6s)) << "the stream stayed on the old sink's monitor";
    stream.value()->stop();
    queue.waitIdle();
}

TEST(PulseSystemAudio, NoServerIsAnErrorNotAHang) {
    AudioCollector audio;
    SerialQueue queue("test-audio");  // joined before the collector goes
    PulseSystemAudioBackend backend("unix:/nonexistent/pulse/native");
    auto stream = backend.openSystemAudio(queue, audio.callbacks());
    ASSERT_FALSE(stream.ok());
    EXPECT_EQ(stream.error().domain, "PulseAudio");
    EXPECT_FALSE(stream.error().message.empty());
}

}  // namespace
}  // namespace corvane
