#pragma once

#include <chrono>
#include <cstdint>
#include <deque>

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

// Stamps a captured audio stream from its sample count, on the capture clock. Where the count
// starts is learned from the stream's arrival times rather than from the audio server's latency
// report, which is wrong by up to the sink's start-up latency for the first second (half a second
// was seen) and would put the sound that much ahead of the picture for the stream's whole life.
//
// A block of samples up to n, read at t, was captured no later than t: so "t - n / rate" bounds
// the stream's start from above, and reading late only raises it. The lowest bound seen over the
// last few seconds is the estimate; stamps are estimate + samples so far. The stamps follow the
// estimate only when it moves by more than kResyncMicros: a device clock that runs slightly
// faster or slower than the machine's (tens of parts per million on real hardware, seconds a
// day), or samples the server dropped, then costs a short hole or overlap now and then (the audio
// lane fills or cuts it), never a growing offset.
//
// One instance per audio stream, used from its reading thread only.
class AudioStampClock {
public:
    static constexpr int64_t kWindowSeconds = 4;
    static constexpr int64_t kResyncMicros = 10'000;

    explicit AudioStampClock(int32_t sampleRate);

    // Stamp for a block of `frames` frames that has just been read at `readTime`.
    MediaTime stampBlock(int64_t frames, SteadyTime readTime);

private:
    struct Second {
        int64_t index;   // whole seconds of samples into the stream
        int64_t lowest;  // lowest start bound of its blocks, in samples on the capture clock
    };

    int32_t sampleRate_;
    bool anchored_ = false;
    int64_t anchor_ = 0;  // capture-clock sample of the stream's first frame
    int64_t framesSoFar_ = 0;
    std::deque<Second> seconds_;  // the last kWindowSeconds, oldest first
};

}  // namespace corvane
