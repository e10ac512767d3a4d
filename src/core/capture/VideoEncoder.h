#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/capture/RawVideoFrame.h"
#include "core/capture/VideoCodec.h"
#include "core/replay/Samples.h"

namespace corvane {

// What one encoder is created with; fixed for its life.
struct EncoderSettings {
    int32_t width = 0;
    int32_t height = 0;
    int32_t fps = 48;
    int32_t bitrateKbps = 12000;
    VideoCodec codec = VideoCodec::H264;  // the encoder may still move to HEVC above 4096x2304
};

// One live encoding session. Created by the capture each time it starts; fed on the video queue.
// Compressed packets go to the sink (held weakly) as they come out of the codec.
class VideoEncoder {
public:
    virtual ~VideoEncoder() = default;
    // False when set-up failed for good; encode then does nothing.
    virtual bool isReady() const = 0;
    virtual void encode(const RawVideoFrame& frame) = 0;
    // Flushes every pending frame into the sink.
    virtual void finish() = 0;
};

class VideoEncoderFactory {
public:
    virtual ~VideoEncoderFactory() = default;
    virtual std::unique_ptr<VideoEncoder> create(const EncoderSettings& settings,
                                                 std::weak_ptr<VideoPacketSink> sink) = 0;
};

}  // namespace corvane
