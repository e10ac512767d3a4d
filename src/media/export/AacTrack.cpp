#include "media/export/AacTrack.h"

#include <algorithm>
#include <cstring>
#include <thread>

#include "core/capture/CaptureSettings.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

namespace corvane {
namespace {

constexpr int kRate = AudioBlock::kSampleRate;
constexpr int kFrame = 1024;  // AAC frame size
// Frames each half encodes beyond its own share: the encoder's output runs two frames behind its
// input, and a packet's transform window reaches one frame back.
constexpr int kPreRollFrames = 3;
constexpr int kRunOnFrames = 3;
// Below this many frames one encoder is quicker than starting a second thread.
constexpr int64_t kSplitMinFrames = 96;

struct CodecDeleter {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
using CodecPtr = std::unique_ptr<AVCodecContext, CodecDeleter>;

CodecPtr openEncoder(int& status) {
    const AVCodec* codec = avcodec_find_encoder_by_name("aac");
    if (!codec) {
        status = AVERROR_ENCODER_NOT_FOUND;
        return nullptr;
    }
    CodecPtr ctx(avcodec_alloc_context3(codec));
    if (!ctx) {
        status = AVERROR(ENOMEM);
        return nullptr;
    }
    ctx->sample_fmt = AV_SAMPLE_FMT_FLTP;
    ctx->sample_rate = kRate;
    ctx->time_base = AVRational{1, kRate};
    av_channel_layout_default(&ctx->ch_layout, 2);
    ctx->bit_rate = int64_t(kClipAudioBitrateKbps) * 1000;
    ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* opts = nullptr;
    av_dict_set(&opts, "aac_coder", "fast", 0);  // keeps a save quick; twoloop costs twice as much
    status = avcodec_open2(ctx.get(), codec, &opts);
    av_dict_free(&opts);
    if (status < 0) return nullptr;
    return ctx;
}

// Encodes frames [firstFrame, lastFrame) of the planar time line, then flushes; keeps packets
// whose pts lies in [keepFrom, keepBefore).
int encodeRange(AVCodecContext* ctx, const float* left, const float* right, int64_t totalSamples,
                int64_t firstFrame, int64_t lastFrame, int64_t keepFrom, int64_t keepBefore,
                std::vector<AVPacket*>& out) {
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    if (!frame || !packet) {
        av_frame_free(&frame);
        av_packet_free(&packet);
        return AVERROR(ENOMEM);
    }
    int status = 0;
    auto drain = [&]() {
        int r;
        while ((r = avcodec_receive_packet(ctx, packet)) == 0) {
            if (packet->pts >= keepFrom && packet->pts < keepBefore) {
                out.push_back(av_packet_clone(packet));
            }
            av_packet_unref(packet);
        }
        return r == AVERROR(EAGAIN) || r == AVERROR_EOF ? 0 : r;
    };
    for (int64_t f = firstFrame; f < lastFrame && status >= 0; ++f) {
        const int64_t offset = f * kFrame;
        const int n = int(std::min<int64_t>(kFrame, totalSamples - offset));
        frame->nb_samples = n;
        frame->format = AV_SAMPLE_FMT_FLTP;
        frame->sample_rate = kRate;
        av_channel_layout_default(&frame->ch_layout, 2);
        if ((status = av_frame_get_buffer(frame, 0)) < 0) break;
        std::memcpy(frame->data[0], left + offset, size_t(n) * sizeof(float));
        std::memcpy(frame->data[1], right + offset, size_t(n) * sizeof(float));
        frame->pts = offset;
        status = avcodec_send_frame(ctx, frame);
        av_frame_unref(frame);
        if (status >= 0) status = drain();
    }
    if (status >= 0) {
        status = avcodec_send_frame(ctx, nullptr);
        if (status >= 0) status = drain();
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    return status;
}

}  // namespace

AacTrack::~AacTrack() {
    for (AVPacket*& p : packets_) av_packet_free(&p);
    avcodec_parameters_free(&parameters_);
}

std::unique_ptr<AacTrack> AacTrack::encode(const std::vector<AudioSampleRef>& blocks, MediaTime start,
                                           MediaTime end, int& status) {
    const MediaTime span = (end - start).convertedTo(kRate);
    if (!span.isValid() || span.value() <= 0) {
        status = AVERROR(EINVAL);
        return nullptr;
    }
    const int64_t total = span.value();
    // Planar time line: interleaved capture PCM becomes the encoder's float-planar layout here.
    std::vector<float> left(size_t(total), 0.0f), right(size_t(total), 0.0f);
    for (const AudioSampleRef& block : blocks) {
        if (!block || block->channels != 2 || block->sampleRate != kRate) continue;
        const MediaTime at = (block->pts - start).convertedTo(kRate);
        if (!at.isValid()) continue;
        const int64_t frames = block->frameCount();
        const int64_t from = std::max<int64_t>(0, -at.value());
        const int64_t to = std::min<int64_t>(frames, total - at.value());
        const float* src = block->samples.data();
        for (int64_t i = from; i < to; ++i) {
            left[size_t(at.value() + i)] = src[2 * i];
            right[size_t(at.value() + i)] = src[2 * i + 1];
        }
    }

    std::unique_ptr<AacTrack> track(new AacTrack);
    track->sampleCount_ = total;
    const int64_t frames = (total + kFrame - 1) / kFrame;

    CodecPtr first = openEncoder(status);
    if (!first) return nullptr;
    track->parameters_ = avcodec_parameters_alloc();
    if (!track->parameters_ ||
        (status = avcodec_parameters_from_context(track->parameters_, first.get())) < 0)
        return nullptr;

    if (frames < kSplitMinFrames) {
        status = encodeRange(first.get(), left.data(), right.data(), total, 0, frames, INT64_MIN,
                             INT64_MAX, track->packets_);
        return status < 0 ? nullptr : std::move(track);
    }

    // Second half on another thread. It starts kPreRollFrames early so its first kept packet
    // has seen the same input as the first encoder would have; the first encoder runs on past the
    // split until it has produced every packet before the seam.
    const int64_t split = frames / 2;
    const int64_t seam = split * kFrame;
    std::vector<AVPacket*> secondPackets;
    int secondStatus = 0;
    std::thread second([&] {
        CodecPtr ctx = openEncoder(secondStatus);
        if (!ctx) return;
        secondStatus = encodeRange(ctx.get(), left.data(), right.data(), total, split - kPreRollFrames,
                                   frames, seam, INT64_MAX, secondPackets);
    });
    status = encodeRange(first.get(), left.data(), right.data(), total, 0, split + kRunOnFrames, INT64_MIN, seam,
                         track->packets_);
    second.join();
    track->packets_.insert(track->packets_.end(), secondPackets.begin(), secondPackets.end());
    if (status >= 0 && secondStatus < 0) status = secondStatus;
    return status < 0 ? nullptr : std::move(track);
}

}  // namespace corvane
