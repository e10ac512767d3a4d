#pragma once

#include <chrono>
#include <cstdint>

#include "core/sched/Clock.h"
#include "core/time/MediaTime.h"

namespace corvane {

// Every captured sample, video or audio, is stamped on this one clock: the machine's monotonic
// clock, in microseconds since its epoch. It never jumps with NTP or the wall clock, so the two
// tracks stay comparable for the life of the process.
inline constexpr int32_t kCaptureClockTimescale = 1'000'000;

inline MediaTime captureClockTime(SteadyTime t) {
    auto us = std::chrono::duration_cast<std::chrono::microseconds>(t.time_since_epoch()).count();
    return MediaTime(int64_t(us), kCaptureClockTimescale);
}
inline MediaTime captureClockNow() { return captureClockTime(std::chrono::steady_clock::now()); }

// Stamps audio from its sample count. The stream is anchored once, at its first block, on the
// capture clock; every later stamp is anchor + frames so far, exact in the sample rate's own
// timescale. Rounding or scheduling jitter therefore never accumulates, however long it runs.
// One instance per audio stream, used from its reading thread only.
class SampleCountClock {
public:
    explicit SampleCountClock(int32_t sampleRate) : sampleRate_(sampleRate) {}

    // Stamp for a block of `frames` frames that has just been read at `readTime`: the first call
    // anchors the stream at readTime minus the block's own length (its first frame was captured
    // that long ago).
    MediaTime stampBlock(int64_t frames, SteadyTime readTime) {
        if (!anchored_) {
            auto us = std::chrono::duration_cast<std::chrono::microseconds>(readTime.time_since_epoch())
                          .count();
            // floor(us * rate / 1e6) without overflow for any realistic uptime
            anchorTicks_ = int64_t((__int128)us * sampleRate_ / 1'000'000) - frames;
            anchored_ = true;
        }
        MediaTime stamp(anchorTicks_ + framesSoFar_, sampleRate_);
        framesSoFar_ += frames;
        return stamp;
    }
    int64_t framesSoFar() const { return framesSoFar_; }

private:
    int32_t sampleRate_;
    bool anchored_ = false;
    int64_t anchorTicks_ = 0;
    int64_t framesSoFar_ = 0;
};

}  // namespace corvane
