#pragma once

#include <memory>

#include "core/capture/AudioEncoder.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace corvane {

// The clips' audio encoder: libavcodec's native AAC (LC), 48 kHz stereo, 192 kbit/s, fast coder.
// Takes interleaved float, keeps up to one frame (1024 samples) until it is full, and returns
// the packets as the codec releases them (the first is its priming packet, pts -1024).
class AacAudioEncoder final : public AudioEncoder {
public:
    static constexpr int64_t kBitRate = 192000;

    // nullptr when the codec cannot be opened.
    static std::unique_ptr<AacAudioEncoder> open();
    ~AacAudioEncoder() override;

    std::shared_ptr<const AudioStreamFormat> format() const override { return format_; }
    bool encode(const float* interleaved, int64_t frames, std::vector<EncodedAudio>& out) override;
    void finish(std::vector<EncodedAudio>& out) override;

    // The parameters and silent packet of this encoder's settings, made once per process: the
    // track of a clip for which no audio was ever captured.
    static std::shared_ptr<const AudioStreamFormat> standardFormat();

private:
    AacAudioEncoder() = default;
    static std::unique_ptr<AacAudioEncoder> openWithSilence(std::vector<uint8_t> silence);
    static const std::vector<uint8_t>& silentPacket();
    bool sendFrame(bool flush, std::vector<EncodedAudio>& out);

    AVCodecContext* ctx_ = nullptr;
    AVFrame* frame_ = nullptr;   // the frame being filled, planar
    AVPacket* packet_ = nullptr;
    int filled_ = 0;             // samples in frame_
    int64_t nextPts_ = 0;        // samples sent so far
    bool finished_ = false;
    std::shared_ptr<const AudioStreamFormat> format_;
};

class AacAudioEncoderFactory final : public AudioEncoderFactory {
public:
    std::unique_ptr<AudioEncoder> create() override { return AacAudioEncoder::open(); }
};

}  // namespace corvane
