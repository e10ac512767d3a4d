#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/capture/VideoCodec.h"
#include "core/replay/PacketBytes.h"
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

    bool operator==(const VideoStreamFormat&) const = default;
};

// Whether packets of the two formats can share one MP4 track: the same object, or an encoder run
// after a restart with the same picture and an identical header.
inline bool sameVideoFormat(const std::shared_ptr<const VideoStreamFormat>& a,
                            const std::shared_ptr<const VideoStreamFormat>& b) {
    return a == b || (a && b && *a == *b);
}

// One compressed video frame: immutable once made, shared by reference between the encoder,
// the replay buffer and a running export.
struct VideoPacket {
    PacketBytes data;
    MediaTime pts;
    MediaTime duration;
    bool isKeyframe = false;
    std::shared_ptr<const VideoStreamFormat> format;
    // Which encoder instance made the packet (increasing per instance; 0 = untagged). Lets the
    // replay buffer drop late output of an encoder that a restart has already replaced.
    uint64_t encoderGeneration = 0;
};
using VideoSampleRef = std::shared_ptr<const VideoPacket>;

// One block of captured audio: interleaved 32-bit float PCM, on its way from the capture to the
// audio encoder (the replay buffer keeps only the compressed packets).
struct AudioBlock {
    static constexpr int32_t kSampleRate = 48000;
    static constexpr int32_t kChannels = 2;

    std::vector<float> samples;  // interleaved, frames * channels values
    MediaTime pts;               // time of the first frame
    int32_t sampleRate = kSampleRate;
    int32_t channels = kChannels;

    int64_t frameCount() const { return channels > 0 ? int64_t(samples.size()) / channels : 0; }
};

// The parameters shared by every packet of one audio encoder run. A new run (a restart of the
// audio stream) makes a new object, so a clip can tell runs apart by pointer.
struct AudioStreamFormat {
    int32_t sampleRate = AudioBlock::kSampleRate;
    int32_t channels = AudioBlock::kChannels;
    int32_t frameSamples = 1024;       // samples each packet decodes to
    int64_t bitRate = 0;               // bits per second
    std::vector<uint8_t> extradata;    // the decoder configuration (AAC AudioSpecificConfig)
    // One packet of digital silence from an encoder with these parameters: what a clip writes
    // where there is no captured audio, so a save never has to encode.
    std::vector<uint8_t> silentPacket;

    // Packets of the two formats can follow each other in one track.
    bool joinsWith(const AudioStreamFormat& other) const {
        return sampleRate == other.sampleRate && channels == other.channels &&
               frameSamples == other.frameSamples && extradata == other.extradata;
    }
};

// One compressed audio packet: immutable once made, shared by reference between the audio lane,
// the replay buffer and a running export. `pts` is the capture-clock time of the first sample
// it decodes to (the encoder's priming packet lies before the run's first captured sample).
struct AudioPacket {
    PacketBytes data;
    MediaTime pts;       // 1/sampleRate timescale
    MediaTime duration;  // the format's frameSamples, fewer for the last packet of a run
    std::shared_ptr<const AudioStreamFormat> format;
};
using AudioPacketRef = std::shared_ptr<const AudioPacket>;

// Where an encoder delivers its packets (the replay buffer implements it). Thread-safe.
class VideoPacketSink {
public:
    virtual ~VideoPacketSink() = default;
    virtual void appendVideo(VideoSampleRef packet, bool isKeyframe) = 0;
};

}  // namespace corvane
