#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/capture/VideoCodec.h"
#include "core/time/MediaTime.h"

namespace corvane {

// The format shared by every packet one encoder instance produced. Reopening the encoder makes a
// new format object, so a clip can tell (by pointer) that it would span two formats.
struct VideoStreamFormat {
    VideoCodec codec = VideoCodec::H264;
    int32_t width = 0;
    int32_t height = 0;
    int32_t fps = 0;
    std::vector<uint8_t> extradata;  // SPS/PPS (and VPS), as the encoder put them in its header
};

// One compressed video frame: immutable once made, shared by reference between the encoder,
// the replay buffer and a running export.
struct VideoPacket {
    std::vector<uint8_t> data;
    MediaTime pts;
    MediaTime duration;
    bool isKeyframe = false;
    std::shared_ptr<const VideoStreamFormat> format;
    // Which encoder instance made the packet (increasing per instance; 0 = untagged). Lets the
    // replay buffer drop late output of an encoder that a restart has already replaced.
    uint64_t encoderGeneration = 0;
};
using VideoSampleRef = std::shared_ptr<const VideoPacket>;

// One block of captured audio: interleaved 32-bit float PCM. The replay buffer keeps its own
// copy, made when the block is appended.
struct AudioBlock {
    static constexpr int32_t kSampleRate = 48000;
    static constexpr int32_t kChannels = 2;

    std::vector<float> samples;  // interleaved, frames * channels values
    MediaTime pts;               // time of the first frame
    int32_t sampleRate = kSampleRate;
    int32_t channels = kChannels;

    int64_t frameCount() const { return channels > 0 ? int64_t(samples.size()) / channels : 0; }
};
using AudioSampleRef = std::shared_ptr<const AudioBlock>;

// Where an encoder delivers its packets (the replay buffer implements it). Thread-safe.
class VideoPacketSink {
public:
    virtual ~VideoPacketSink() = default;
    virtual void appendVideo(VideoSampleRef packet, bool isKeyframe) = 0;
};

}  // namespace corvane
