#pragma once

// Reads a clip back with libavformat and libavcodec, for tests of what was written: stream
// parameters, every packet as stored, and what the decoders make of it.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <cstdint>
#include <string>
#include <vector>

namespace corvane::test {

struct ReadStream {
    std::string codec;
    int width = 0, height = 0, sampleRate = 0, channels = 0;
    double startSeconds = 0, durationSeconds = 0;
};

struct ReadPacket {
    int stream = 0;
    double ptsSeconds = 0;
    bool key = false;
    std::vector<uint8_t> data;
};

struct ReadClip {
    bool opened = false;
    std::vector<ReadStream> streams;
    std::vector<ReadPacket> packets;
    int videoStream = -1, audioStream = -1;
    int videoFrames = 0;    // pictures decoded
    int decodeErrors = 0;   // packets or decoders refused
    std::vector<float> pcm; // the audio track decoded to interleaved stereo, edit list applied
};

inline ReadClip readClip(const std::string& path) {
    ReadClip clip;
    AVFormatContext* ic = nullptr;
    if (avformat_open_input(&ic, path.c_str(), nullptr, nullptr) < 0) return clip;
    avformat_find_stream_info(ic, nullptr);
    clip.opened = true;
    std::vector<AVCodecContext*> decoders(ic->nb_streams, nullptr);
    for (unsigned i = 0; i < ic->nb_streams; ++i) {
        const AVStream* st = ic->streams[i];
        const AVCodecParameters* par = st->codecpar;
        ReadStream s{avcodec_get_name(par->codec_id), par->width, par->height, par->sample_rate,
                     par->ch_layout.nb_channels};
        if (st->start_time != AV_NOPTS_VALUE) s.startSeconds = double(st->start_time) * av_q2d(st->time_base);
        if (st->duration > 0) s.durationSeconds = double(st->duration) * av_q2d(st->time_base);
        if (par->codec_type == AVMEDIA_TYPE_VIDEO) clip.videoStream = int(i);
        if (par->codec_type == AVMEDIA_TYPE_AUDIO) clip.audioStream = int(i);
        clip.streams.push_back(s);
        const AVCodec* codec = avcodec_find_decoder(par->codec_id);
        decoders[i] = avcodec_alloc_context3(codec);
        avcodec_parameters_to_context(decoders[i], par);
        if (!codec || avcodec_open2(decoders[i], codec, nullptr) < 0) {
            ++clip.decodeErrors;
            avcodec_free_context(&decoders[i]);
        }
    }
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    auto drain = [&](AVCodecContext* dec) {
        while (avcodec_receive_frame(dec, frame) == 0) {
            if (dec->codec_type == AVMEDIA_TYPE_VIDEO) ++clip.videoFrames;
            if (dec->codec_type == AVMEDIA_TYPE_AUDIO && frame->format == AV_SAMPLE_FMT_FLTP &&
                frame->ch_layout.nb_channels == 2) {
                const auto* l = reinterpret_cast<const float*>(frame->data[0]);
                const auto* r = reinterpret_cast<const float*>(frame->data[1]);
                for (int i = 0; i < frame->nb_samples; ++i) clip.pcm.insert(clip.pcm.end(), {l[i], r[i]});
            }
            av_frame_unref(frame);
        }
    };
    while (av_read_frame(ic, pkt) >= 0) {
        const AVStream* st = ic->streams[pkt->stream_index];
        clip.packets.push_back({pkt->stream_index, double(pkt->pts) * av_q2d(st->time_base),
                                (pkt->flags & AV_PKT_FLAG_KEY) != 0, {pkt->data, pkt->data + pkt->size}});
        if (AVCodecContext* dec = decoders[size_t(pkt->stream_index)]) {
            if (avcodec_send_packet(dec, pkt) < 0) ++clip.decodeErrors;
            drain(dec);
        }
        av_packet_unref(pkt);
    }
    for (AVCodecContext* dec : decoders) {
        if (!dec) continue;
        avcodec_send_packet(dec, nullptr);
        drain(dec);
        avcodec_free_context(&dec);
    }
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avformat_close_input(&ic);
    return clip;
}

}  // namespace corvane::test
