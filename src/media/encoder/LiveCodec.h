#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/replay/Samples.h"

struct AVCodecContext;
struct AVBufferRef;
struct AVFrame;

namespace corvane {

// The codec's time base (ticks per second): finer than any frame rate, so catch-up frames closer
// together than 1/fps keep distinct, increasing time stamps.
constexpr int32_t kLiveCodecTimeBase = 90000;

struct LiveCodecConfig {
    std::string encoderName;  // a libavcodec encoder name, e.g. "libx264" or "h264_vaapi"
    VideoCodec codec = VideoCodec::H264;
    int32_t width = 0;        // even
    int32_t height = 0;       // even
    int32_t fps = 30;         // > 0
    int64_t bitrateKbps = 12000;
};

// One opened libavcodec encoder tuned for live capture: real time / zero latency, High (H.264) or
// Main (HEVC) profile where the encoder offers it, average rate with a 1.5x cap over one second,
// a keyframe at least every fps frames, no B-frames, global header (parameter sets only in
// extradata). Not thread-safe: one thread at a time drives it.
class LiveCodec {
public:
    ~LiveCodec();
    LiveCodec(const LiveCodec&) = delete;
    LiveCodec& operator=(const LiveCodec&) = delete;

    // Opens the named encoder; on failure returns nullptr and puts the libav error code (< 0)
    // into status.
    static std::unique_ptr<LiveCodec> open(const LiveCodecConfig& config, int& status);

    AVCodecContext* context() const { return ctx_; }
    // Pixel format of the frames callers fill (system memory): yuv420p or nv12.
    int softwarePixelFormat() const { return swFormat_; }
    // Hardware-surface encoders (VA-API) take frames uploaded into their own pool.
    bool needsUpload() const { return hwFrames_ != nullptr; }
    // Copies a filled software frame into a hardware surface; returns a new frame or nullptr.
    AVFrame* upload(const AVFrame* software, int& status) const;

private:
    LiveCodec() = default;

    AVCodecContext* ctx_ = nullptr;
    AVBufferRef* hwDevice_ = nullptr;
    AVBufferRef* hwFrames_ = nullptr;
    int swFormat_ = -1;
};

// Preset for the software encoder: the faster one once the pixel rate would leave too little of a
// 2-core machine for capture with the better one.
const char* softwarePresetFor(int32_t width, int32_t height, int32_t fps);

// Rate-control figures in the units libavcodec takes, computed in 64 bits and clamped where
// libavcodec stores an int (the rate-control buffer size).
struct RateControl {
    int64_t averageBitsPerSecond = 0;
    int64_t maxBitsPerSecond = 0;
    int bufferBits = 0;  // 1.5x the average over one second
};
RateControl rateControlFor(int64_t bitrateKbps);

}  // namespace corvane
