#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "core/log/Log.h"
#include "core/replay/CorvaneRingBuffer.h"
#include "core/sched/Clock.h"

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

// Captures "[Corvane] " lines while alive.
class LogCapture {
public:
    LogCapture() {
        setLogSinkForTesting([this](const std::string& line) { lines_.push_back(line); });
    }
    ~LogCapture() { setLogSinkForTesting(nullptr); }
    const std::vector<std::string>& lines() const { return lines_; }
    bool contains(const std::string& text) const {
        for (const auto& l : lines_)
            if (l.find(text) != std::string::npos) return true;
        return false;
    }

private:
    std::vector<std::string> lines_;
};

constexpr int32_t kTicks = 90000;

inline MediaTime at(double seconds) { return MediaTime::fromSeconds(seconds, kTicks); }

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
                         double keyEvery = 1.0) {
    const int64_t count = int64_t((to - from) * fps + 1e-9);
    const int64_t perKey = int64_t(keyEvery * fps + 0.5);
    for (int64_t i = 0; i < count; ++i)
        buffer.appendVideo(videoPacket(from + double(i) / fps, i % perKey == 0), i % perKey == 0);
}

inline AudioBlock audioBlock(double seconds, int frames = 960, float value = 0.25f) {
    AudioBlock b;
    b.pts = MediaTime::fromSeconds(seconds, AudioBlock::kSampleRate);
    b.samples.assign(size_t(frames) * 2, value);
    return b;
}

}  // namespace corvane::test
