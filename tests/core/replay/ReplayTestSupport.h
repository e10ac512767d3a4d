#pragma once

#include <atomic>
#include <cmath>
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
    p->data = std::vector<uint8_t>(bytes, 0x42);
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

// 20 ms of stereo sound at `seconds` on the capture clock.
inline AudioBlock audioBlock(double seconds) {
    AudioBlock b;
    b.pts = MediaTime::fromSeconds(seconds, AudioBlock::kSampleRate);
    b.samples.assign(960 * 2, 0.25f);
    return b;
}

// The parameters of one audio encoder run; every call makes a new run with the same settings.
inline std::shared_ptr<const AudioStreamFormat> audioRun(std::vector<uint8_t> extradata = {0x11, 0x90}) {
    auto f = std::make_shared<AudioStreamFormat>();
    f->extradata = std::move(extradata);
    f->silentPacket = {0x21, 0x00};
    return f;
}

// A compressed audio packet at `samples` (48 kHz ticks on the capture clock).
inline AudioPacketRef audioPacket(int64_t samples, std::shared_ptr<const AudioStreamFormat> format) {
    auto p = std::make_shared<AudioPacket>();
    p->data = std::vector<uint8_t>(100, uint8_t(samples));
    p->pts = MediaTime(samples, AudioBlock::kSampleRate);
    p->duration = MediaTime(1024, AudioBlock::kSampleRate);
    p->format = std::move(format);
    return p;
}

inline AudioPacketRef audioPacketAt(double seconds, std::shared_ptr<const AudioStreamFormat> format) {
    return audioPacket(std::llround(seconds * AudioBlock::kSampleRate), std::move(format));
}

}  // namespace corvane::test
