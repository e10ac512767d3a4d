#include "media/export/Mp4ClipOutput.h"

#include <cerrno>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mem.h>
}

namespace corvane {
namespace {

uint8_t* copyExtradata(const std::vector<uint8_t>& bytes) {
    auto* data = static_cast<uint8_t*>(av_mallocz(bytes.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (data) std::memcpy(data, bytes.data(), bytes.size());
    return data;
}

// In the stream's time base as the muxer settled it, rounded to nearest.
int64_t ticks(MediaTime t, AVRational timeBase) {
    if (!t.isValid()) return AV_NOPTS_VALUE;
    return av_rescale_q(t.value(), AVRational{1, t.timescale()}, timeBase);
}

}  // namespace

std::unique_ptr<Mp4ClipOutput> Mp4ClipOutput::open(ClipFileSink& sink, const VideoStreamFormat& video,
                                                   int32_t videoTimescale, const AudioStreamFormat* audio,
                                                   const std::atomic<bool>& abandoned, int& error) {
    std::unique_ptr<Mp4ClipOutput> out(new Mp4ClipOutput);
    out->sink_ = &sink;
    out->abandoned_ = &abandoned;
    out->packet_ = av_packet_alloc();
    error = avformat_alloc_output_context2(&out->context_, nullptr, "mp4", nullptr);
    if (error < 0) return nullptr;
    if (!out->packet_) {
        error = AVERROR(ENOMEM);
        return nullptr;
    }
    AVFormatContext* oc = out->context_;

    AVStream* vs = avformat_new_stream(oc, nullptr);
    if (!vs) {
        error = AVERROR(ENOMEM);
        return nullptr;
    }
    AVCodecParameters* vpar = vs->codecpar;
    vpar->codec_type = AVMEDIA_TYPE_VIDEO;
    vpar->codec_id = video.codec == VideoCodec::HEVC ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264;
    vpar->width = video.width;
    vpar->height = video.height;
    vpar->format = AV_PIX_FMT_YUV420P;
    // "hvc1" plays in more players than the muxer's default "hev1".
    if (video.codec == VideoCodec::HEVC) vpar->codec_tag = MKTAG('h', 'v', 'c', '1');
    if (!video.extradata.empty()) {
        vpar->extradata = copyExtradata(video.extradata);
        vpar->extradata_size = vpar->extradata ? int(video.extradata.size()) : 0;
    }
    vs->time_base = AVRational{1, videoTimescale};
    if (video.fps > 0) vs->avg_frame_rate = AVRational{video.fps, 1};
    out->videoIndex_ = vs->index;

    if (audio) {
        AVStream* as = avformat_new_stream(oc, nullptr);
        if (!as) {
            error = AVERROR(ENOMEM);
            return nullptr;
        }
        AVCodecParameters* apar = as->codecpar;
        apar->codec_type = AVMEDIA_TYPE_AUDIO;
        apar->codec_id = AV_CODEC_ID_AAC;
        apar->sample_rate = audio->sampleRate;
        av_channel_layout_default(&apar->ch_layout, audio->channels);
        apar->frame_size = audio->frameSamples;
        apar->bit_rate = audio->bitRate;
        if (!audio->extradata.empty()) {
            apar->extradata = copyExtradata(audio->extradata);
            apar->extradata_size = apar->extradata ? int(audio->extradata.size()) : 0;
        }
        as->time_base = AVRational{1, audio->sampleRate};
        out->audioIndex_ = as->index;
    }

    auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferBytes));
    out->io_ = buffer ? avio_alloc_context(buffer, kBufferBytes, 1, out.get(), nullptr,
                                           &Mp4ClipOutput::writeToSink, &Mp4ClipOutput::seekSink)
                      : nullptr;
    if (!out->io_) {
        av_free(buffer);
        error = AVERROR(ENOMEM);
        return nullptr;
    }
    oc->pb = out->io_;
    oc->flags |= AVFMT_FLAG_CUSTOM_IO;
    // Negative leading times must reach the muxer as they are: they become the audio's edit list,
    // which starts the sound exactly with the first frame.
    oc->avoid_negative_ts = AVFMT_AVOID_NEG_TS_DISABLED;
    error = avformat_write_header(oc, nullptr);
    if (error < 0) return nullptr;
    return out;
}

Mp4ClipOutput::~Mp4ClipOutput() {
    avformat_free_context(context_);
    if (io_) av_freep(&io_->buffer);
    avio_context_free(&io_);
    av_packet_free(&packet_);
}

int Mp4ClipOutput::writeToSink(void* opaque, uint8_t* data, int size) {
    auto* self = static_cast<Mp4ClipOutput*>(opaque);
    if (self->abandoned_->load()) return AVERROR_EXIT;
    const int error = self->sink_->write(data, size_t(size));
    return error == 0 ? size : AVERROR(error);
}

int64_t Mp4ClipOutput::seekSink(void* opaque, int64_t offset, int whence) {
    auto* self = static_cast<Mp4ClipOutput*>(opaque);
    if (whence == AVSEEK_SIZE) return -1;  // unknown; the muxer does not need it
    const int64_t at = self->sink_->seek(offset, whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(int(-at)) : at;
}

int Mp4ClipOutput::write(const uint8_t* data, size_t size, int64_t pts, int64_t duration, bool key, int stream) {
    if (abandoned_->load()) return AVERROR_EXIT;
    // Not reference-counted: the muxer reads the caller's bytes and keeps nothing.
    AVPacket* p = packet_;
    p->data = const_cast<uint8_t*>(data);
    p->size = int(size);
    p->pts = p->dts = pts;
    p->duration = duration;
    p->flags = key ? AV_PKT_FLAG_KEY : 0;
    p->stream_index = stream;
    const int error = av_write_frame(context_, p);
    p->data = nullptr;
    p->size = 0;
    return error < 0 ? error : 0;
}

int Mp4ClipOutput::writeVideo(const VideoPacket& packet, MediaTime relativePts) {
    const AVRational timeBase = context_->streams[videoIndex_]->time_base;
    const int64_t duration = packet.duration.isValid() ? ticks(packet.duration, timeBase) : 0;
    return write(packet.data.data(), packet.data.size(), ticks(relativePts, timeBase), duration,
                 packet.isKeyframe, videoIndex_);
}

int Mp4ClipOutput::writeAudio(const uint8_t* data, size_t size, MediaTime relativePts, MediaTime duration) {
    const AVRational timeBase = context_->streams[audioIndex_]->time_base;
    return write(data, size, ticks(relativePts, timeBase), ticks(duration, timeBase), true,
                 audioIndex_);
}

int Mp4ClipOutput::finish() {
    int error = av_write_trailer(context_);
    avio_flush(io_);
    if (error >= 0 && io_->error < 0) error = io_->error;
    return error;
}

}  // namespace corvane
