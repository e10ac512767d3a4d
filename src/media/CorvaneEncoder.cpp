#include "media/CorvaneEncoder.h"

#include <algorithm>
#include <string>

#include "core/log/Log.h"
#include "media/HardwareAcceleration.h"
#include "media/encoder/H264FileForm.h"
#include "media/encoder/LiveCodec.h"
#include "media/encoder/SameSizeConversion.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace corvane {
namespace {

constexpr int kFramePoolSize = 3;  // converted frames waiting for (or inside) the codec
constexpr int32_t kMaxH264Width = 4096;
constexpr int32_t kMaxH264Height = 2304;

uint64_t nextGeneration() {
    static std::atomic<uint64_t> counter{0};
    return ++counter;
}

int32_t evenAtLeastTwo(int32_t v) { return std::max(2, v & ~1); }

bool exceedsH264Limit(int32_t width, int32_t height) {
    return width > kMaxH264Width || height > kMaxH264Height;
}

}  // namespace

bool CorvaneEncoder::convertWithSwscale(const RawVideoFrame& frame, AVFrame& target) {
    // A real resize (or a format without a fast path). Same size, point sampling skips the
    // filters entirely; the fast-bilinear path would run a plain C scaler over every line at 1:1.
    const bool sameSize = frame.width == width_ && frame.height == height_;
    const AVPixelFormat source = frame.format == RawPixelFormat::BGRA ? AV_PIX_FMT_BGRA : AV_PIX_FMT_BGR0;
    sws_ = sws_getCachedContext(sws_, frame.width, frame.height, source, width_, height_,
                                AVPixelFormat(codec_->softwarePixelFormat()),
                                sameSize ? SWS_POINT : SWS_FAST_BILINEAR, nullptr, nullptr, nullptr);
    if (!sws_) return false;
    const uint8_t* srcData[4] = {frame.pixels, nullptr, nullptr, nullptr};
    const int srcStride[4] = {frame.strideBytes, 0, 0, 0};
    sws_scale(sws_, srcData, srcStride, 0, frame.height, target.data, target.linesize);
    return true;
}

CorvaneEncoder::CorvaneEncoder(const EncoderSettings& settings, std::weak_ptr<VideoPacketSink> sink,
                               EncoderCandidates candidates)
    : fps_(std::clamp(settings.fps, 1, 240)),
      width_(evenAtLeastTwo(settings.width)),
      height_(evenAtLeastTwo(settings.height)),
      videoCodec_(exceedsH264Limit(settings.width, settings.height) ? VideoCodec::HEVC : settings.codec),
      generation_(nextGeneration()),
      sink_(std::move(sink)) {
    if (settings.codec != videoCodec_) {
        logLine("Resolution " + std::to_string(settings.width) + "x" + std::to_string(settings.height) +
                " exceeds H.264 hardware limit (4096x2304). Automatically using HEVC hardware encoder.");
    }
    setupSession(candidates, settings.bitrateKbps);
    if (!codec_) return;

    for (int i = 0; i < kFramePoolSize; ++i) {
        AVFrame* frame = av_frame_alloc();
        frame->format = codec_->softwarePixelFormat();
        frame->width = width_;
        frame->height = height_;
        if (av_frame_get_buffer(frame, 0) < 0) {
            av_frame_free(&frame);
            continue;
        }
        allFrames_.push_back(frame);
        freeFrames_.push_back(frame);
    }
    if (freeFrames_.empty()) {
        codec_.reset();
        return;
    }
    output_ = std::thread([this] { outputLoop(); });
}

CorvaneEncoder::~CorvaneEncoder() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (output_.joinable()) output_.join();
    codec_.reset();
    for (AVFrame* frame : allFrames_) av_frame_free(&frame);
    av_frame_free(&uploadFrame_);
    sws_freeContext(sws_);
}

bool CorvaneEncoder::tryOpen(const std::string& name, VideoCodec codec, int64_t bitrateKbps,
                             int& status) {
    LiveCodecConfig config;
    config.encoderName = name;
    config.codec = codec;
    config.width = width_;
    config.height = height_;
    config.fps = fps_;
    config.bitrateKbps = bitrateKbps;
    codec_ = LiveCodec::open(config, status);
    if (!codec_) return false;
    encoderName_ = name;
    return true;
}

void CorvaneEncoder::setupSession(const EncoderCandidates& candidates, int64_t bitrateKbps) {
    const VideoCodec creationCodec = videoCodec_;
    int status = AVERROR_ENCODER_NOT_FOUND;
    // Only encoders really tried are worth a line: ones known not to open here are left out of
    // the candidates beforehand (FfmpegVideoEncoderFactory).
    int tried = 0;
    auto tryHardware = [&](VideoCodec codec) {
        for (const std::string& name : candidates.hardware(codec)) {
            ++tried;
            if (tryOpen(name, codec, bitrateKbps, status)) return true;
        }
        return false;
    };

    bool opened = tryHardware(creationCodec);
    if (!opened && videoCodec_ == VideoCodec::H264) {
        if (tried > 0) {
            logLine("H.264 hardware encoder setup failed (" + std::to_string(status) +
                    "). Retrying with HEVC hardware encoder...");
        }
        videoCodec_ = VideoCodec::HEVC;
        opened = tryHardware(VideoCodec::HEVC);
    }
    if (!opened) {
        if (tried > 0) {
            logLine("Dedicated hardware encoder unavailable (" + std::to_string(status) +
                    "). Retrying with standard encoder...");
        }
        // The codec chosen at creation, not the HEVC of the second attempt: software HEVC cannot
        // keep up in real time on a small machine.
        videoCodec_ = creationCodec;
        opened = tryOpen(candidates.software(creationCodec), creationCodec, bitrateKbps, status);
    }
    if (!opened) {
        logLine("Error opening the video encoder " + candidates.software(creationCodec) + ": " +
                std::to_string(status));
        return;
    }

    AVCodecContext* ctx = codec_->context();
    auto format = std::make_shared<VideoStreamFormat>();
    format->codec = videoCodec_;
    format->width = width_;
    format->height = height_;
    format->fps = fps_;
    if (ctx->extradata && ctx->extradata_size > 0)
        format->extradata.assign(ctx->extradata, ctx->extradata + ctx->extradata_size);
    if (videoCodec_ == VideoCodec::H264 && h264::isAnnexB(format->extradata.data(), format->extradata.size())) {
        std::vector<uint8_t> record = h264::decoderConfiguration(format->extradata.data(), format->extradata.size());
        // Without a record the packets stay Annex B and the muxer converts them at save time.
        if (!record.empty()) {
            format->extradata = std::move(record);
            lengthPrefixed_ = true;
        }
    }
    format_ = std::move(format);
}

AVFrame* CorvaneEncoder::takeFreeFrame() {
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [this] { return stopping_ || !freeFrames_.empty(); });
    if (stopping_) return nullptr;
    AVFrame* frame = freeFrames_.back();
    freeFrames_.pop_back();
    return frame;
}

void CorvaneEncoder::encode(const RawVideoFrame& frame) {
    if (!codec_ || finished_) return;
    if (!frame.pixels || frame.width <= 0 || frame.height <= 0 || !frame.pts.isValid()) return;
    const int64_t minStride = int64_t(frame.width) * 4;
    if (frame.strideBytes < minStride) return;

    const MediaTime ticks = frame.pts.convertedTo(kLiveCodecTimeBase);
    if (!ticks.isValid()) return;
    // Strictly increasing: the muxer rejects equal time stamps.
    const int64_t pts = std::max(ticks.value(), lastPts_ == INT64_MIN ? INT64_MIN : lastPts_ + 1);
    const bool durationUsable = frame.duration.isValid() && frame.duration.seconds() > 0;
    const MediaTime duration = durationUsable ? frame.duration : MediaTime::fromCount(1, fps_);

    AVFrame* target = takeFreeFrame();
    if (!target) return;
    // The codec may still hold a reference to this buffer from an earlier frame.
    if (av_frame_make_writable(target) < 0) {
        std::lock_guard lock(mutex_);
        freeFrames_.push_back(target);
        return;
    }

    if (!convertSameSize(frame.pixels, frame.strideBytes, frame.width, frame.height, *target) &&
        !convertWithSwscale(frame, *target)) {
        std::lock_guard lock(mutex_);
        freeFrames_.push_back(target);
        return;
    }

    lastPts_ = pts;
    target->pts = pts;
    // A keyframe every fps frames and at least once per second of time stamps, whichever comes
    // first (below the configured rate a frame count alone would space them further apart).
    const bool forceKey = lastKeyPts_ == INT64_MIN || framesSinceKey_ >= fps_ ||
                          pts - lastKeyPts_ >= kLiveCodecTimeBase;
    if (forceKey) {
        lastKeyPts_ = pts;
        framesSinceKey_ = 0;
    }
    ++framesSinceKey_;
    target->pict_type = forceKey ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    target->key_frame = forceKey ? 1 : 0;

    {
        std::lock_guard lock(mutex_);
        queue_.push_back({target, duration});
    }
    wake_.notify_all();
}

void CorvaneEncoder::finish() {
    if (!codec_ || finished_) return;
    finished_ = true;
    std::unique_lock lock(mutex_);
    queue_.push_back({nullptr, MediaTime()});
    wake_.notify_all();
    wake_.wait(lock, [this] { return stopping_ || flushed_; });
}

void CorvaneEncoder::outputLoop() {
    AVCodecContext* ctx = codec_->context();
    for (;;) {
        Pending next;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (stopping_) return;
            next = queue_.front();
            queue_.pop_front();
        }
        if (!next.frame) {
            avcodec_send_frame(ctx, nullptr);
            drainPackets();
            {
                std::lock_guard lock(mutex_);
                flushed_ = true;
            }
            wake_.notify_all();
            continue;
        }

        const int64_t pts = next.frame->pts;
        int status = 0;
        if (codec_->needsUpload()) {
            av_frame_free(&uploadFrame_);
            uploadFrame_ = codec_->upload(next.frame, status);
        }
        if (status == 0) {
            durations_.emplace_back(pts, next.duration);
            // Errors drop the frame: the pipeline never stops for one frame.
            if (avcodec_send_frame(ctx, codec_->needsUpload() ? uploadFrame_ : next.frame) < 0)
                durations_.pop_back();
        }
        {
            std::lock_guard lock(mutex_);
            freeFrames_.push_back(next.frame);
        }
        wake_.notify_all();
        drainPackets();
    }
}

void CorvaneEncoder::drainPackets() {
    AVCodecContext* ctx = codec_->context();
    AVPacket* packet = av_packet_alloc();
    while (avcodec_receive_packet(ctx, packet) == 0) {
        auto out = std::make_shared<VideoPacket>();
        if (lengthPrefixed_) {
            uint8_t* writable = nullptr;
            out->data = packetMemory_.allocate(h264::lengthPrefixedSize(packet->data, size_t(packet->size)), writable);
            h264::writeLengthPrefixed(packet->data, size_t(packet->size), writable);
        } else {
            out->data = packetMemory_.copy(packet->data, size_t(packet->size));
        }
        out->pts = MediaTime(packet->pts, kLiveCodecTimeBase);
        // No reordering: packets leave in the order frames went in.
        while (!durations_.empty() && durations_.front().first < packet->pts) durations_.pop_front();
        if (!durations_.empty() && durations_.front().first == packet->pts) {
            out->duration = durations_.front().second;
            durations_.pop_front();
        } else {
            out->duration = MediaTime::fromCount(1, fps_);
        }
        out->isKeyframe = (packet->flags & AV_PKT_FLAG_KEY) != 0;
        out->format = format_;
        out->encoderGeneration = generation_;
        av_packet_unref(packet);
        const bool isKeyframe = out->isKeyframe;
        if (auto sink = sink_.lock()) sink->appendVideo(std::move(out), isKeyframe);
    }
    av_packet_free(&packet);
}

std::unique_ptr<VideoEncoder> FfmpegVideoEncoderFactory::create(const EncoderSettings& settings,
                                                                std::weak_ptr<VideoPacketSink> sink) {
    // The machine's survey, made once: a dedicated encoder that did not open then is not tried
    // (with its errors) at every capture start.
    return std::make_unique<CorvaneEncoder>(settings, std::move(sink),
                                            candidates_.without(hardwareEncoderSurvey().failed));
}

}  // namespace corvane
