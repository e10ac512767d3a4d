// System audio against the session's PulseAudio null sink: a tone played into the sink comes back
// from its monitor as stamped 48 kHz stereo float, and the stream follows a new default sink.
#include "platform/audio/PulseSystemAudio.h"

#include <gtest/gtest.h>

#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <tuple>

#include <unistd.h>

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

// Keeps every block a stream delivers, and why it ended.
class AudioCollector {
public:
    AudioStreamCallbacks callbacks() {
        return {[this](const AudioBlock& block) {
                    std::lock_guard lock(mutex_);
                    blocks_.push_back(block);
                    changed_.notify_all();
                },
                [this](const std::string& text) {
                    std::lock_guard lock(mutex_);
                    stopText_ = text;
                    changed_.notify_all();
                }};
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
    std::optional<std::string> waitForStop(std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, timeout, [&] { return stopText_.has_value(); });
        return stopText_;
    }
    std::vector<AudioBlock> blocks() {
        std::lock_guard lock(mutex_);
        return blocks_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<AudioBlock> blocks_;       // guarded by mutex_
    std::optional<std::string> stopText_;  // guarded by mutex_
};

// One stream on the session's default sink: a tone played there comes back stamped when it was
// captured; a tone on another sink is heard only once that sink becomes the default.
TEST(PulseSystemAudio, ToneComesBackStampedWhenCapturedAndTheStreamFollowsANewDefaultSink) {
    AudioCollector audio;
    SerialQueue queue("test-audio");  // joined before the collector goes
    PulseSystemAudioBackend backend;
    auto stream = backend.openSystemAudio(queue, audio.callbacks());
    ASSERT_TRUE(stream.ok()) << "no PulseAudio: run inside scripts/with-test-session.sh ("
                             << stream.error().message << ")";
    {
        testing::Tone tone;
        ASSERT_TRUE(tone.ok());
        // The null sink's monitor can take about two seconds to deliver its first data; then half a
        // second more.
        ASSERT_TRUE(audio.waitForSound(0.1, 8s, 25)) << "the tone never reached the monitor";
    }
    const std::vector<AudioBlock> blocks = audio.blocks();
    const MediaTime now = captureClockNow();
    int jumps = 0;
    for (size_t i = 0; i < blocks.size(); ++i) {
        const AudioBlock& b = blocks[i];
        EXPECT_EQ(std::tuple(b.sampleRate, b.channels, b.pts.timescale()), std::tuple(48000, 2, 48000));
        // One block's worth of samples apart, bar a rare correction: read jitter never shows.
        if (i > 0) jumps += b.pts != blocks[i - 1].pts + MediaTime(blocks[i - 1].frameCount(), 48000);
    }
    EXPECT_LE(jumps, 2);
    // The newest block was read just before `now`: its stamp is its own length (20 ms) plus the
    // hand-over earlier. The server's latency report at the start once put it half a second back.
    const double age = (now - blocks.back().pts).seconds();
    EXPECT_GT(age, 0.0);
    EXPECT_LT(age, 0.15) << "audio stamps must be on the capture clock, when the sound was captured";

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
    std::this_thread::sleep_for(500ms);  // the first tone's tail, still in the sink, plays out
    testing::Tone tone("corvane_probe_sink");  // not the default yet: the monitor hears silence
    EXPECT_FALSE(audio.waitForSound(0.1, 2s));
    ASSERT_EQ(std::system("pactl set-default-sink corvane_probe_sink"), 0);
    EXPECT_TRUE(audio.waitForSound(0.1, 6s)) << "the stream stayed on the old sink's monitor";
    stream.value()->stop();
    queue.waitIdle();
    EXPECT_FALSE(audio.waitForStop(0ms)) << "a deliberate stop is not reported";
}

// A private audio server (its own socket and runtime folder) that the test can kill and start
// again without touching the session's.
class PrivateServer {
public:
    PrivateServer() : dir_("/tmp/corvane-pulse-" + std::to_string(::getpid())) {
        std::filesystem::create_directories(dir_);
    }
    ~PrivateServer() {
        kill();
        std::filesystem::remove_all(dir_);
    }
    std::string address() const { return "unix:" + dir_ + "/native"; }
    bool start() {
        // Off the session bus: the session's own server already owns the name a server claims there.
        const std::string env = "XDG_RUNTIME_DIR=" + dir_ + " PULSE_RUNTIME_PATH=" + dir_ + " HOME=" + dir_ +
                                " DBUS_SESSION_BUS_ADDRESS=unix:path=" + dir_ + "/no-bus";
        const std::string cmd = env + " setsid pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no"
                                      " --load='module-native-protocol-unix socket=" + dir_ + "/native auth-anonymous=1'"
                                      " --load='module-null-sink sink_name=corvane_private_sink rate=48000 channels=2'"
                                      " >/dev/null 2>&1 & echo $! >" + dir_ + "/pid";
        if (std::system(cmd.c_str()) != 0) return false;
        for (int i = 0; i < 100; ++i) {
            const std::string probe = "PULSE_SERVER=" + address() + " pactl info >/dev/null 2>&1";
            if (std::system(probe.c_str()) == 0) return true;
            std::this_thread::sleep_for(50ms);
        }
        return false;
    }
    void kill() {
        const std::string cmd = "[ -f " + dir_ + "/pid ] && pid=$(cat " + dir_ + "/pid) && kill $pid 2>/dev/null; "
                                "while [ -n \"$pid\" ] && kill -0 $pid 2>/dev/null; do sleep 0.05; done; rm -f " +
                                dir_ + "/pid";
        int rc = std::system(cmd.c_str());
        (void)rc;
    }

private:
    std::string dir_;
};

TEST(PulseSystemAudio, AServerRestartEndsTheStreamAndAReopenHearsTheNewServer) {
    PrivateServer server;
    ASSERT_TRUE(server.start());
    PulseSystemAudioBackend backend(server.address());
    AudioCollector first, second;
    SerialQueue queue("test-audio");  // joined before the collectors go
    auto firstStream = backend.openSystemAudio(queue, first.callbacks());
    ASSERT_TRUE(firstStream.ok());
    ASSERT_TRUE(first.waitForSound(-1, 10s)) << "the null sink's monitor delivers silence";

    server.kill();
    EXPECT_TRUE(first.waitForStop(10s)) << "a dead server is reported as a stop";
    auto down = backend.openSystemAudio(queue, second.callbacks());  // an error, not a hang
    ASSERT_FALSE(down.ok()) << "nothing to reopen yet";
    EXPECT_EQ(down.error().domain, "PulseAudio");

    ASSERT_TRUE(server.start());
    auto secondStream = backend.openSystemAudio(queue, second.callbacks());
    ASSERT_TRUE(secondStream.ok()) << secondStream.error().message;
    EXPECT_TRUE(second.waitForSound(-1, 10s, 2)) << "blocks arrive again after the restart";
    secondStream.value()->stop();
    firstStream.value()->stop();
    queue.waitIdle();
    EXPECT_FALSE(second.waitForStop(0ms));
}

}  // namespace
}  // namespace corvane
