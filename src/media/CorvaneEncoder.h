#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "core/capture/VideoEncoder.h"
#include "core/replay/PacketArena.h"
#include "media/encoder/EncoderCandidates.h"

struct AVFrame;
struct SwsContext;

namespace corvane {

class LiveCodec;

// The live H.264/HEVC encoder on libavcodec. encode() runs on the capture's video queue: it
// converts (and scales) the captured BGRA/BGR0 frame once into a reused frame and hands it to the
// encoder's own output thread, which drives the codec and appends every packet to the sink (held
// weakly) with its keyframe flag. encode() waits when the output thread is a few frames behind,
// so frames are never silently piled up. Set-up happens in the constructor and is final.
class CorvaneEncoder final : public VideoEncoder {
public:
    CorvaneEncoder(const EncoderSettings& settings, std::weak_ptr<VideoPacketSink> sink,
                   EncoderCandidates candidates = {});
    ~CorvaneEncoder() override;  // discards frames not yet encoded; joins the output thread

    bool isReady() const override { return codec_ != nullptr; }
    void encode(const RawVideoFrame& frame) override;
    // Blocks until every frame given so far is in the sink. encode() does nothing afterwards.
    void finish() override;

    // What set-up settled on (fixed after construction).
    VideoCodec videoCodec() const { return videoCodec_; }
    const std::string& encoderName() const { return encoderName_; }
    std::shared_ptr<const VideoStreamFormat> format() const { return format_; }

private:
    struct Pending {
        AVFrame* frame = nullptr;  // nullptr = flush
        MediaTime duration;
    };

    void setupSession(const EncoderCandidates& candidates, int64_t bitrateKbps);
    bool tryOpen(const std::string& name, VideoCodec codec, int64_t bitrateKbps, int& status);
    void outputLoop();
    void drainPackets();
    AVFrame* takeFreeFrame();
    // Converts (and resizes) a frame without a same-size fast path; false when swscale cannot.
    bool convertWithSwscale(const RawVideoFrame& frame, AVFrame& target);

    const int32_t fps_;
    int32_t width_;
    int32_t height_;
    VideoCodec videoCodec_;
    std::string encoderName_;
    const uint64_t generation_;
    std::weak_ptr<VideoPacketSink> sink_;
    std::unique_ptr<LiveCodec> codec_;
    std::shared_ptr<const VideoStreamFormat> format_;
    // Packets are converted from Annex B to the file's length-prefixed form as they leave the
    // encoder (H.264 only), so a save copies them untouched.
    bool lengthPrefixed_ = false;
    PacketArena packetMemory_;  // touched by the output thread only

    // Video queue only.
    SwsContext* sws_ = nullptr;
    int64_t lastPts_ = INT64_MIN;       // in the codec's time base
    int64_t lastKeyPts_ = INT64_MIN;
    int32_t framesSinceKey_ = 0;
    bool finished_ = false;

    // Output thread only.
    std::deque<std::pair<int64_t, MediaTime>> durations_;  // pts -> duration, in send order
    AVFrame* uploadFrame_ = nullptr;

    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<AVFrame*> freeFrames_;  // guarded by mutex_
    std::deque<Pending> queue_;         // guarded by mutex_
    bool stopping_ = false;             // guarded by mutex_
    bool flushed_ = false;              // guarded by mutex_
    std::vector<AVFrame*> allFrames_;
    std::thread output_;
};

// Makes the live encoders; leaves out the dedicated encoders that the machine's one-time survey
// (hardwareEncoderSurvey) found unable to open.
class FfmpegVideoEncoderFactory final : public VideoEncoderFactory {
public:
    explicit FfmpegVideoEncoderFactory(EncoderCandidates candidates = {})
        : candidates_(std::move(candidates)) {}
    std::unique_ptr<VideoEncoder> create(const EncoderSettings& settings,
                                         std::weak_ptr<VideoPacketSink> sink) override;

private:
    EncoderCandidates candidates_;
};

}  // namespace corvane
