#include "media/audio/AacAudioEncoder.h"

#include <algorithm>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}

namespace corvane {
namespace {

constexpr int kRate = AudioBlock::kSampleRate;

AVCodecContext* openCodec() {
    const AVCodec* codec = avcodec_find_encoder_by_name("aac");
    if (!codec) return nullptr;
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    if (!ctx) return nullptr;
    ctx->sample_fmt = AV_SAMPLE_FMT_FLTP;
    ctx->sample_rate = kRate;
    ctx->time_base = AVRational{1, kRate};
    av_channel_layout_default(&ctx->ch_layout, AudioBlock::kChannels);
    ctx->bit_rate = AacAudioEncoder::kBitRate;
    ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "aac_coder", "fast", 0);  // a fraction of twoloop's CPU, same bit rate
    const int status = avcodec_open2(ctx, codec, &options);
    av_dict_free(&options);
    if (status < 0) avcodec_free_context(&ctx);
    return ctx;
}

}  // namespace

// One packet of digital silence in the steady state (the codec's first packets carry its start).
// Made once per process by an encoder of the same settings.
const std::vector<uint8_t>& AacAudioEncoder::silentPacket() {
    static const std::vector<uint8_t> packet = [] {
        std::unique_ptr<AacAudioEncoder> encoder = openWithSilence({});
        if (!encoder) return std::vector<uint8_t>{};
        const std::vector<float> zeros(size_t(8 * 1024) * AudioBlock::kChannels, 0.0f);
        std::vector<EncodedAudio> packets;
        encoder->encode(zeros.data(), 8 * 1024, packets);
        return packets.size() >= 4 ? packets[3].data : std::vector<uint8_t>{};
    }();
    return packet;
}

std::unique_ptr<AacAudioEncoder> AacAudioEncoder::open() { return openWithSilence(silentPacket()); }

std::unique_ptr<AacAudioEncoder> AacAudioEncoder::openWithSilence(std::vector<uint8_t> silence) {
    std::unique_ptr<AacAudioEncoder> encoder(new AacAudioEncoder);
    encoder->ctx_ = openCodec();
    encoder->frame_ = av_frame_alloc();
    encoder->packet_ = av_packet_alloc();
    if (!encoder->ctx_ || !encoder->frame_ || !encoder->packet_) return nullptr;
    AVFrame* frame = encoder->frame_;
    frame->nb_samples = encoder->ctx_->frame_size;
    frame->format = AV_SAMPLE_FMT_FLTP;
    frame->sample_rate = kRate;
    av_channel_layout_default(&frame->ch_layout, AudioBlock::kChannels);
    if (av_frame_get_buffer(frame, 0) < 0) return nullptr;

    auto format = std::make_shared<AudioStreamFormat>();
    format->frameSamples = encoder->ctx_->frame_size;
    format->bitRate = kBitRate;
    const AVCodecContext* ctx = encoder->ctx_;
    if (ctx->extradata && ctx->extradata_size > 0)
        format->extradata.assign(ctx->extradata, ctx->extradata + ctx->extradata_size);
    format->silentPacket = std::move(silence);
    encoder->format_ = std::move(format);
    return encoder;
}

AacAudioEncoder::~AacAudioEncoder() {
    av_packet_free(&packet_);
    av_frame_free(&frame_);
    avcodec_free_context(&ctx_);
}

bool AacAudioEncoder::encode(const float* interleaved, int64_t frames, std::vector<EncodedAudio>& out) {
    if (finished_) return false;
    const int frameSize = ctx_->frame_size;
    while (frames > 0) {
        if (filled_ == 0 && av_frame_make_writable(frame_) < 0) return false;
        const int take = int(std::min<int64_t>(frames, frameSize - filled_));
        auto* left = reinterpret_cast<float*>(frame_->data[0]) + filled_;
        auto* right = reinterpret_cast<float*>(frame_->data[1]) + filled_;
        for (int i = 0; i < take; ++i) {
            left[i] = interleaved[2 * i];
            right[i] = interleaved[2 * i + 1];
        }
        interleaved += 2 * take;
        frames -= take;
        filled_ += take;
        if (filled_ == frameSize && !sendFrame(false, out)) return false;
    }
    return true;
}

void AacAudioEncoder::finish(std::vector<EncodedAudio>& out) {
    if (finished_) return;
    if (filled_ > 0) sendFrame(false, out);
    sendFrame(true, out);
    finished_ = true;
}

bool AacAudioEncoder::sendFrame(bool flush, std::vector<EncodedAudio>& out) {
    int status;
    if (flush) {
        status = avcodec_send_frame(ctx_, nullptr);
    } else {
        frame_->nb_samples = filled_;  // only the last frame of a run is short
        frame_->pts = nextPts_;
        nextPts_ += filled_;
        filled_ = 0;
        status = avcodec_send_frame(ctx_, frame_);
        frame_->nb_samples = ctx_->frame_size;
    }
    if (status < 0) return false;
    while ((status = avcodec_receive_packet(ctx_, packet_)) == 0) {
        EncodedAudio encoded;
        encoded.data.assign(packet_->data, packet_->data + packet_->size);
        encoded.ptsSamples = packet_->pts;
        encoded.durationSamples = int32_t(packet_->duration > 0 ? packet_->duration : ctx_->frame_size);
        out.push_back(std::move(encoded));
        av_packet_unref(packet_);
    }
    return status == AVERROR(EAGAIN) || status == AVERROR_EOF;
}

std::shared_ptr<const AudioStreamFormat> AacAudioEncoder::standardFormat() {
    static const std::shared_ptr<const AudioStreamFormat> format = [] {
        std::unique_ptr<AacAudioEncoder> encoder = open();
        return encoder ? encoder->format() : nullptr;
    }();
    return format;
}

}  // namespace corvane
