#pragma once

#include <cstdint>
#include <vector>

#include "core/capture/RawVideoFrame.h"
#include "core/replay/Samples.h"
#include "media/CorvaneEncoder.h"
#include "support/TestClip.h"

namespace corvane::test {

// A BGR0 picture whose content moves every frame (a bright bar sweeping over a gradient), so the
// encoder has real work and frames differ.
class MovingPattern {
public:
    MovingPattern(int width, int height) : width_(width), height_(height), pixels_(size_t(width) * height * 4) {}

    RawVideoFrame frame(int index, MediaTime pts, MediaTime duration = MediaTime::invalid()) {
        const int bar = (index * 7) % width_;
        for (int y = 0; y < height_; ++y)
            for (int x = 0; x < width_; ++x) {
                uint8_t* p = pixels_.data() + (size_t(y) * width_ + x) * 4;
                const bool inBar = x >= bar && x < bar + width_ / 10;
                p[0] = inBar ? 250 : uint8_t(x + index);
                p[1] = inBar ? 250 : uint8_t(y * 2 + index);
                p[2] = inBar ? 250 : uint8_t(x + y);
            }
        RawVideoFrame f;
        f.pixels = pixels_.data();
        f.strideBytes = width_ * 4;
        f.width = width_;
        f.height = height_;
        f.format = RawPixelFormat::BGR0;
        f.pts = pts;
        f.duration = duration;
        return f;
    }

private:
    int width_, height_;
    std::vector<uint8_t> pixels_;  // the fourth byte of each pixel stays 0
};

// The software encoders only, so results do not depend on the machine's hardware.
inline EncoderCandidates softwareOnly() {
    EncoderCandidates c;
    c.h264Hardware.clear();
    c.hevcHardware.clear();
    return c;
}

inline EncoderSettings encoderSettings(int width, int height, VideoCodec codec = VideoCodec::H264) {
    EncoderSettings s;
    s.width = width;
    s.height = height;
    s.fps = 30;
    s.bitrateKbps = 2000;
    s.codec = codec;
    return s;
}

}  // namespace corvane::test
