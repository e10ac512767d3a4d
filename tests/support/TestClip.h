#pragma once

// Real H.264 (+ AAC) clips for the media, capture and library tests, made and read back with
// FFmpeg: the one clip writer and the one clip reader of the tests. Header-only so each test
// binary that needs it builds its own copy.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace corvane::test {

// A real H.264 (+ AAC) MP4 made with libavcodec: each frame shows its own index as a barcode,
// the audio beeps for 100 ms at the start of every second. Keyframe every `gop` frames, no
// B-frames (like the recorder's clips).
struct TestClipOptions {
    int width = 320;
    int height = 240;
    int fps = 30;
    int frames = 180;
    int gop = 30;
    bool audio = true;
    const char* container = "mp4";  // an FFmpeg muxer name
};

// One stream of a clip as the container describes it.
struct ClipStream {
    std::string codec;
    int width = 0, height = 0, sampleRate = 0, channels = 0;
    double startSeconds = 0, durationSeconds = 0;
};

// One packet as stored.
struct ClipPacket {
    int stream = 0;
    double ptsSeconds = 0;
    bool key = false;
    std::vector<uint8_t> data;
};

// A clip read back the way a player does (edit lists applied, hidden frames dropped): what the
// container says, every packet as stored, and what the decoders make of it.
struct DecodedClip {
    std::string error;              // empty when the file opened
    std::vector<ClipStream> streams;
    std::vector<ClipPacket> packets;
    int videoStream = -1, audioStream = -1;
    int decodeErrors = 0;           // packets or decoders refused
    std::vector<int> frameIndices;  // barcode of each shown frame, in order (test clips only)
    std::vector<double> frameTimes; // presentation time of each shown frame, seconds
    std::vector<float> pcm;         // the audio shown, interleaved stereo
    double audioDuration = 0;       // seconds of decoded audio samples (0 without audio)
    double audioStart = 0;          // presentation time of the first audio sample shown
    double firstAudioPacketEnd = 0; // end time of the first stored audio packet (<= 0: pre-roll)
    double leadingRms = 0;          // loudness of the first 10 ms of audio shown
    std::vector<double> audioOnsets;  // times where a beep starts (the test clip beeps each second)
    std::vector<uint8_t> extradata;   // the video stream's codec configuration
};


namespace clipdetail {

constexpr int kBits = 16;
constexpr int kBarHeight = 16;

inline void drawFrame(AVFrame* f, int index) {
    for (int y = 0; y < f->height; ++y)
        for (int x = 0; x < f->width; ++x)
            f->data[0][y * f->linesize[0] + x] = static_cast<uint8_t>(90 + ((x + index * 3) % 64));
    const int blockW = f->width / kBits;
    for (int b = 0; b < kBits; ++b) {
        const uint8_t v = (index >> b) & 1 ? 235 : 16;
        for (int y = 0; y < kBarHeight; ++y)
            for (int x = b * blockW; x < (b + 1) * blockW; ++x) f->data[0][y * f->linesize[0] + x] = v;
    }
    for (int p = 1; p < 3; ++p)
        for (int y = 0; y < f->height / 2; ++y)
            for (int x = 0; x < f->width / 2; ++x) f->data[p][y * f->linesize[p] + x] = 128;
}

inline int readBarcode(const AVFrame* f) {
    const int blockW = f->width / kBits;
    int index = 0;
    for (int b = 0; b < kBits; ++b) {
        const uint8_t v = f->data[0][(kBarHeight / 2) * f->linesize[0] + b * blockW + blockW / 2];
        if (v > 128) index |= 1 << b;
    }
    return index;
}

struct Ctx {
    ~Ctx() {
        avcodec_free_context(&venc);
        avcodec_free_context(&aenc);
        if (oc) {
            if (oc->pb) avio_closep(&oc->pb);
            avformat_free_context(oc);
        }
        av_frame_free(&frame);
        av_frame_free(&aframe);
        av_packet_free(&pkt);
    }
    AVFormatContext* oc = nullptr;
    AVCodecContext* venc = nullptr;
    AVCodecContext* aenc = nullptr;
    AVStream* vs = nullptr;
    AVStream* as = nullptr;
    AVFrame* frame = av_frame_alloc();
    AVFrame* aframe = av_frame_alloc();
    AVPacket* pkt = av_packet_alloc();
};

inline int drain(Ctx& c, AVCodecContext* enc, AVStream* st, AVFrame* f) {
    int r = avcodec_send_frame(enc, f);
    if (r < 0) return r;
    while ((r = avcodec_receive_packet(enc, c.pkt)) == 0) {
        av_packet_rescale_ts(c.pkt, enc->time_base, st->time_base);
        c.pkt->stream_index = st->index;
        if ((r = av_interleaved_write_frame(c.oc, c.pkt)) < 0) return r;
    }
    return r == AVERROR(EAGAIN) || r == AVERROR_EOF ? 0 : r;
}

}  // namespace clipdetail

// Writes the clip described by `options` to `path`. Returns "" on success, else what failed.
inline std::string writeTestClip(const std::string& path, const TestClipOptions& options = {}) {
    using namespace clipdetail;
    Ctx c;
    if (avformat_alloc_output_context2(&c.oc, nullptr, options.container, path.c_str()) < 0) return "alloc output";
    const AVCodec* x264 = avcodec_find_encoder_by_name("libx264");
    if (!x264) return "no libx264";
    c.venc = avcodec_alloc_context3(x264);
    c.venc->width = options.width;
    c.venc->height = options.height;
    c.venc->pix_fmt = AV_PIX_FMT_YUV420P;
    c.venc->time_base = AVRational{1, options.fps};
    c.venc->framerate = AVRational{options.fps, 1};
    c.venc->gop_size = options.gop;
    c.venc->max_b_frames = 0;
    c.venc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    av_opt_set(c.venc->priv_data, "preset", "ultrafast", 0);
    av_opt_set(c.venc->priv_data, "tune", "zerolatency", 0);
    av_opt_set(c.venc->priv_data, "x264-params", "scenecut=0", 0);
    if (avcodec_open2(c.venc, x264, nullptr) < 0) return "open libx264";
    c.vs = avformat_new_stream(c.oc, nullptr);
    avcodec_parameters_from_context(c.vs->codecpar, c.venc);
    c.vs->time_base = c.venc->time_base;

    if (options.audio) {
        const AVCodec* aac = avcodec_find_encoder(AV_CODEC_ID_AAC);
        c.aenc = avcodec_alloc_context3(aac);
        c.aenc->sample_fmt = AV_SAMPLE_FMT_FLTP;
        c.aenc->sample_rate = 48000;
        av_channel_layout_default(&c.aenc->ch_layout, 2);
        c.aenc->bit_rate = 128000;
        c.aenc->time_base = AVRational{1, 48000};
        c.aenc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        if (avcodec_open2(c.aenc, aac, nullptr) < 0) return "open aac";
        c.as = avformat_new_stream(c.oc, nullptr);
        avcodec_parameters_from_context(c.as->codecpar, c.aenc);
        c.as->time_base = c.aenc->time_base;
    }
    if (avio_open(&c.oc->pb, path.c_str(), AVIO_FLAG_WRITE) < 0) return "open file";
    if (avformat_write_header(c.oc, nullptr) < 0) return "write header";

    c.frame->format = AV_PIX_FMT_YUV420P;
    c.frame->width = options.width;
    c.frame->height = options.height;
    av_frame_get_buffer(c.frame, 0);
    if (options.audio) {
        c.aframe->format = AV_SAMPLE_FMT_FLTP;
        c.aframe->nb_samples = c.aenc->frame_size;
        av_channel_layout_copy(&c.aframe->ch_layout, &c.aenc->ch_layout);
        c.aframe->sample_rate = 48000;
        av_frame_get_buffer(c.aframe, 0);
    }
    int64_t samples = 0;
    const int64_t totalSamples = static_cast<int64_t>(options.frames) * 48000 / options.fps;
    for (int i = 0; i < options.frames; ++i) {
        av_frame_make_writable(c.frame);
        drawFrame(c.frame, i);
        c.frame->pts = i;
        if (drain(c, c.venc, c.vs, c.frame) < 0) return "encode video";
        // Audio up to the end of this video frame, in whole AAC frames.
        while (options.audio && samples < static_cast<int64_t>(i + 1) * 48000 / options.fps && samples < totalSamples) {
            av_frame_make_writable(c.aframe);
            for (int ch = 0; ch < 2; ++ch) {
                auto* d = reinterpret_cast<float*>(c.aframe->data[ch]);
                for (int s = 0; s < c.aframe->nb_samples; ++s) {
                    // A 100 ms beep at the start of every second: its onsets show where the
                    // audio sits against the pictures.
                    const int64_t n = samples + s;
                    const bool beep = n % 48000 < 4800;
                    d[s] = beep ? 0.25f * static_cast<float>(std::sin(2 * M_PI * 440.0 * n / 48000.0)) : 0.0f;
                }
            }
            c.aframe->pts = samples;
            samples += c.aframe->nb_samples;
            if (drain(c, c.aenc, c.as, c.aframe) < 0) return "encode audio";
        }
    }
    if (drain(c, c.venc, c.vs, nullptr) < 0) return "flush video";
    if (options.audio && drain(c, c.aenc, c.as, nullptr) < 0) return "flush audio";
    if (av_write_trailer(c.oc) < 0) return "trailer";
    return {};
}

// Reads and decodes every packet of `path`.
inline DecodedClip decodeClip(const std::string& path) {
    using clipdetail::readBarcode;
    DecodedClip out;
    AVFormatContext* ic = nullptr;
    if (avformat_open_input(&ic, path.c_str(), nullptr, nullptr) < 0) {
        out.error = "open";
        return out;
    }
    std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> guard(
        ic, [](AVFormatContext* p) { avformat_close_input(&p); });
    avformat_find_stream_info(ic, nullptr);
    out.videoStream = av_find_best_stream(ic, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    out.audioStream = av_find_best_stream(ic, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    std::vector<AVCodecContext*> decoders(ic->nb_streams, nullptr);
    for (unsigned i = 0; i < ic->nb_streams; ++i) {
        const AVStream* st = ic->streams[i];
        const AVCodecParameters* par = st->codecpar;
        ClipStream s{avcodec_get_name(par->codec_id), par->width, par->height, par->sample_rate,
                     par->ch_layout.nb_channels};
        if (st->start_time != AV_NOPTS_VALUE) s.startSeconds = double(st->start_time) * av_q2d(st->time_base);
        if (st->duration > 0) s.durationSeconds = double(st->duration) * av_q2d(st->time_base);
        out.streams.push_back(s);
        if (int(i) == out.videoStream) out.extradata.assign(par->extradata, par->extradata + par->extradata_size);
        if (int(i) != out.videoStream && int(i) != out.audioStream) continue;
        const AVCodec* codec = avcodec_find_decoder(par->codec_id);
        decoders[i] = avcodec_alloc_context3(codec);
        avcodec_parameters_to_context(decoders[i], par);
        decoders[i]->pkt_timebase = st->time_base;
        if (!codec || avcodec_open2(decoders[i], codec, nullptr) < 0) {
            ++out.decodeErrors;
            avcodec_free_context(&decoders[i]);
        }
    }
    AVPacket* pkt = av_packet_alloc();
    AVFrame* f = av_frame_alloc();
    int64_t audioSamples = 0;
    bool firstAudio = true;
    double lastLoud = -10;
    bool sawAudioPacket = false;
    double leadingSum = 0;
    int leadingCount = 0;
    auto receive = [&](AVCodecContext* d, int stream) {
        const AVRational timeBase = ic->streams[stream]->time_base;
        while (avcodec_receive_frame(d, f) == 0) {
            if (stream == out.videoStream) {
                out.frameIndices.push_back(readBarcode(f));
                out.frameTimes.push_back(f->best_effort_timestamp * av_q2d(timeBase));
            } else if (f->format == AV_SAMPLE_FMT_FLTP && f->ch_layout.nb_channels == 2) {
                const double frameStart = f->best_effort_timestamp * av_q2d(timeBase);
                if (firstAudio) {
                    out.audioStart = frameStart;
                    firstAudio = false;
                }
                const auto* l = reinterpret_cast<const float*>(f->data[0]);
                const auto* r = reinterpret_cast<const float*>(f->data[1]);
                for (int i = 0; i < f->nb_samples; ++i) {
                    out.pcm.insert(out.pcm.end(), {l[i], r[i]});
                    const double t = frameStart + static_cast<double>(i) / f->sample_rate;
                    if (leadingCount < 480) {
                        leadingSum += double(l[i]) * l[i];
                        out.leadingRms = std::sqrt(leadingSum / ++leadingCount);
                    }
                    if (std::fabs(l[i]) < 0.1f) continue;
                    if (t - lastLoud > 0.3) out.audioOnsets.push_back(t);
                    lastLoud = t;
                }
                audioSamples += f->nb_samples;
            }
            av_frame_unref(f);
        }
    };
    while (av_read_frame(ic, pkt) >= 0) {
        const AVStream* st = ic->streams[pkt->stream_index];
        out.packets.push_back({pkt->stream_index, double(pkt->pts) * av_q2d(st->time_base),
                               (pkt->flags & AV_PKT_FLAG_KEY) != 0, {pkt->data, pkt->data + pkt->size}});
        if (pkt->stream_index == out.audioStream && !sawAudioPacket && pkt->pts != AV_NOPTS_VALUE) {
            out.firstAudioPacketEnd = (pkt->pts + pkt->duration) * av_q2d(st->time_base);
            sawAudioPacket = true;
        }
        if (AVCodecContext* dec = decoders[size_t(pkt->stream_index)]) {
            if (avcodec_send_packet(dec, pkt) < 0) ++out.decodeErrors;
            receive(dec, pkt->stream_index);
        }
        av_packet_unref(pkt);
    }
    for (unsigned i = 0; i < decoders.size(); ++i) {
        if (!decoders[i]) continue;
        avcodec_send_packet(decoders[i], nullptr);
        receive(decoders[i], int(i));
        avcodec_free_context(&decoders[i]);
    }
    if (out.audioStream >= 0) out.audioDuration = static_cast<double>(audioSamples) / 48000.0;
    av_packet_free(&pkt);
    av_frame_free(&f);
    return out;
}

}  // namespace corvane::test
