#pragma once

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/capture/RawVideoFrame.h"
#include "core/replay/Samples.h"

namespace corvane::test {

// A BGR0 picture whose content moves every frame (a bright bar sweeping over a gradient), so the
// encoder has real work and frames differ.
class MovingPattern {
public:
    MovingPattern(int width, int height) : width_(width), height_(height), pixels_(size_t(width) * height * 4) {}

    RawVideoFrame frame(int index, MediaTime pts, MediaTime duration = MediaTime::invalid()) {
        const int bar = (index * 7) % width_;
        for (int y = 0; y < height_; ++y) {
            uint8_t* row = pixels_.data() + size_t(y) * width_ * 4;
            for (int x = 0; x < width_; ++x) {
                const bool inBar = x >= bar && x < bar + width_ / 10;
                row[4 * x + 0] = inBar ? 250 : uint8_t((x + index) & 0xff);
                row[4 * x + 1] = inBar ? 250 : uint8_t((y * 2 + index) & 0xff);
                row[4 * x + 2] = inBar ? 250 : uint8_t((x + y) & 0xff);
                row[4 * x + 3] = 0;
            }
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
    std::vector<uint8_t> pixels_;
};

// Interleaved stereo sine blocks: 440 Hz left, 660 Hz right, amplitude 0.25, continuous phase.
inline AudioBlock sineBlock(int64_t firstSample, int frames) {
    AudioBlock b;
    b.pts = MediaTime::fromCount(firstSample, AudioBlock::kSampleRate);
    b.samples.resize(size_t(frames) * 2);
    for (int i = 0; i < frames; ++i) {
        const double t = double(firstSample + i) / AudioBlock::kSampleRate;
        b.samples[2 * size_t(i)] = float(0.25 * std::sin(2 * M_PI * 440 * t));
        b.samples[2 * size_t(i) + 1] = float(0.25 * std::sin(2 * M_PI * 660 * t));
    }
    return b;
}

struct ProbedStream {
    std::string codec;
    int width = 0, height = 0;
    int sampleRate = 0, channels = 0;
    double startSeconds = 0;
    double durationSeconds = 0;
    uint32_t codecTag = 0;
};

struct ProbedPacket {
    int stream = 0;
    double ptsSeconds = 0;
    bool key = false;
    std::vector<uint8_t> data;
};

struct ProbedFile {
    bool opened = false;
    std::vector<ProbedStream> streams;
    std::vector<ProbedPacket> packets;
    int videoStream = -1, audioStream = -1;
    double durationSeconds = 0;
};

// Reads a file back with libavformat: stream parameters and every packet.
ProbedFile probeFile(const std::string& path);

// Decodes the audio stream (edit list applied) to interleaved stereo float.
std::vector<float> decodeAudio(const std::string& path);

// NAL unit payloads of an Annex-B (start codes) or length-prefixed (4-byte) packet; lets a test
// compare stored packets with the muxed ones whatever framing each uses.
std::vector<std::vector<uint8_t>> nalUnits(const std::vector<uint8_t>& data, bool lengthPrefixed);

}  // namespace corvane::test
