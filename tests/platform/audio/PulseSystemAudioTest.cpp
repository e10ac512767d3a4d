// System audio against the session's PulseAudio null sink: a tone played into the sink comes back
// from its monitor as stamped 48 kHz stereo float, and the stream follows a new default sink.
#include "platform/audio/PulseSystemAudio.h"

#include <gtest/gtest.h>

#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <mutex>

#include "core/capture/CaptureClock.h"
#include "core/sched/SerialQueue.h"
#include "platform/audio/TonePlayer.h"

namespace corvane {
namespace {

using namespace std::chrono_literals;

double rms(const AudioBlock& block) {
    double sum = 0;
    for (float v : block.samples) sum += double(v) * v;
    return block.samples.empty() ? 0 : std::sqrt(sum / double(block.samples.size()));
}

// Keeps every block a stream delivers. Streams here end only deliberately, which is never reported.
class AudioCollector {
public:
    AudioStreamCallbacks callbacks() {
        return {[this](const AudioBlock& block) {
                    std::lock_guard lock(mutex_);
                    blocks_.push_back(block);
                    changed_.notify_all();
                },
                [](const std::string& text) { ADD_FAILURE() << "unexpected stop report: " << text; }};
    }
    // Waits (bounded) for a block louder than `level` arriving after this call, then `more` blocks.
    bool waitForSound(double level, std::chrono::milliseconds timeout, size_t more = 0) {
        std::unique_lock lock(mutex_);
        const size_t from = blocks_.size();
        return changed_.wait_for(lock, timeout, [&] {
            for (size_t i = from; i < blocks_.size(); ++i)
                if (rms(blocks_[i]) > level) return blocks_.size() > i + more;
            return false;
        });
    }
    std::vector<AudioBlock> blocks() {
        std::lock_guard lock(mutex_);
        return blocks_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<AudioBlock> blocks_;  // guarded by mutex_
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
    // The null sink's monitor can take about two seconds to deliver its first data; then half a
    // second more.
    EXPECT_TRUE(audio.waitForSound(0.1, 8s, 25)) << "the tone never reached the monitor";
    const MediaTime now = captureClockNow();
    stream.value()->stop();  // a deliberate stop is not reported
    queue.waitIdle();

    auto blocks = audio.blocks();
    ASSERT_GT(blocks.size(), 2u);
    for (size_t i = 0; i < blocks.size(); ++i) {
        const AudioBlock& b = blocks[i];
        EXPECT_EQ(b.sampleRate, 48000);
        EXPECT_EQ(b.channels, 2);
        EXPECT_EQ(b.pts.timescale(), 48000);
        // Exactly one block's worth of samples apart: no drift from wall-clock jitter.
        if (i > 0) {
            EXPECT_EQ(b.pts, blocks[i - 1].pts + MediaTime(blocks[i - 1].frameCount(), 48000));
        }
    }
    const double age = (now - blocks.back().pts).seconds();
    EXPECT_GT(age, -0.5);
    EXPECT_LT(age, 3.0) << "audio stamps must be on the capture clock";
}

TEST(PulseSystemAudio, FollowsANewDefaultSinkAndNoServerIsAnErrorNotAHang) {
    ASSERT_EQ(std::system("pactl load-module module-null-sink sink_name=corvane_probe_sink "
                          "rate=48000 channels=2 >/tmp/corvane_probe_module 2>/dev/null"), 0);
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

    auto missing = PulseSystemAudioBackend("unix:/nonexistent/pulse/native").openSystemAudio(queue, audio.callbacks());
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().domain, "PulseAudio");
    EXPECT_FALSE(missing.error().message.empty());
}

}  // namespace
}  // namespace corvane
