#pragma once

#include <atomic>
#include <memory>

#include "core/replay/CorvaneRingBuffer.h"
#include "core/sched/Clock.h"
#include "support/CaptureLogLines.h"

namespace corvane::test {

// A settable clock; safe to read from several threads.
class SteppedClock final : public Clock {
public:
    SteadyTime now() const override { return SteadyTime(Duration(ticks_.load())); }
    WallTime wallNow() const override {
        return WallTime(std::chrono::duration_cast<WallTime::duration>(Duration(ticks_.load())));
    }
    void advance(double seconds) { ticks_ += fromSeconds(seconds).count(); }

private:
    std::atomic<int64_t> ticks_{int64_t(1'700'000'000) * 1'000'000'000};
};

inline MediaTime at(double seconds) { return MediaTime::fromSeconds(seconds, 90000); }

inline VideoSampleRef videoPacket(double seconds, bool key,
                                  std::shared_ptr<const VideoStreamFormat> format = nullptr,
                                  size_t bytes = 1000, uint64_t generation = 0) {
    static const auto defaultFormat = std::make_shared<const VideoStreamFormat>();
    auto p = std::make_shared<VideoPacket>();
    p->data.assign(bytes, 0x42);
    p->pts = at(seconds);
    p->duration = MediaTime(1, 30);
    p->isKeyframe = key;
    p->format = format ? std::move(format) : defaultFormat;
    p->encoderGeneration = generation;
    return p;
}

// Frames every 1/fps from `from` (inclusive) to `to` (exclusive), a keyframe every keyEvery s.
inline void appendStream(CorvaneRingBuffer& buffer, double from, double to, double fps = 30,
                         double keyEvery = 1.0,
                         std::shared_ptr<const VideoStreamFormat> format = nullptr) {
    const int64_t count = int64_t((to - from) * fps + 1e-9), perKey = int64_t(keyEvery * fps + 0.5);
    for (int64_t i = 0; i < count; ++i)
        buffer.appendVideo(videoPacket(from + double(i) / fps, i % perKey == 0, format), i % perKey == 0);
}

inline AudioBlock audioBlock(double seconds, int frames = 960, float value = 0.25f) {
    AudioBlock b;
    b.pts = MediaTime::fromSeconds(seconds, AudioBlock::kSampleRate);
    b.samples.assign(size_t(frames) * 2, value);
    return b;
}

inline int64_t frameCount(const std::vector<AudioSampleRef>& audio) {
    int64_t n = 0;
    for (const auto& a : audio) n += a->frameCount();
    return n;
}

}  // namespace corvane::test
