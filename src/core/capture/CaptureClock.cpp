#include "core/capture/CaptureClock.h"

#include <algorithm>

namespace corvane {

AudioStampClock::AudioStampClock(int32_t sampleRate) : sampleRate_(sampleRate) {}

MediaTime AudioStampClock::stampBlock(int64_t frames, SteadyTime readTime) {
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(readTime.time_since_epoch()).count();
    // floor(us * rate / 1e6) without overflow for any realistic uptime
    const int64_t readSample = int64_t((__int128)us * sampleRate_ / 1'000'000);
    const int64_t bound = readSample - (framesSoFar_ + frames);

    const int64_t second = framesSoFar_ / sampleRate_;
    if (seconds_.empty() || seconds_.back().index != second) {
        seconds_.push_back({second, bound});
    } else {
        seconds_.back().lowest = std::min(seconds_.back().lowest, bound);
    }
    while (seconds_.front().index <= second - kWindowSeconds) seconds_.pop_front();
    int64_t estimate = bound;
    for (const Second& s : seconds_) estimate = std::min(estimate, s.lowest);

    const int64_t tolerance = kResyncMicros * sampleRate_ / 1'000'000;
    if (!anchored_ || estimate - anchor_ > tolerance || anchor_ - estimate > tolerance) {
        anchor_ = estimate;
        anchored_ = true;
    }
    MediaTime stamp(anchor_ + framesSoFar_, sampleRate_);
    framesSoFar_ += frames;
    return stamp;
}

}  // namespace corvane
