#include "MediaTestSupport.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace corvane::test {

ProbedFile probeFile(const std::string& path) {
    ProbedFile file;
    AVFormatContext* ic = nullptr;
    if (avformat_open_input(&ic, path.c_str(), nullptr, nullptr) < 0) return file;
    avformat_find_stream_info(ic, nullptr);
    file.opened = true;
    file.durationSeconds = ic->duration > 0 ? double(ic->duration) / AV_TIME_BASE : 0;
    for (unsigned i = 0; i < ic->nb_streams; ++i) {
        const AVStream* st = ic->streams[i];
        ProbedStream s;
        s.codec = avcodec_get_name(st->codecpar->codec_id);
        s.width = st->codecpar->width;
        s.height = st->codecpar->height;
        s.sampleRate = st->codecpar->sample_rate;
        s.channels = st->codecpar->ch_layout.nb_channels;
        s.codecTag = st->codecpar->codec_tag;
        if (st->start_time != AV_NOPTS_VALUE) s.startSeconds = st->start_time * av_q2d(st->time_base);
        if (st->duration > 0) s.durationSeconds = st->duration * av_q2d(st->time_base);
        if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) file.videoStream = int(i);
        if (st->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) file.audioStream = int(i);
        file.streams.push_back(s);
    }
    AVPacket* pkt = av_packet_alloc();
    while (av_read_frame(ic, pkt) >= 0) {
        ProbedPacket p;
        p.stream = pkt->stream_index;
        p.ptsSeconds = pkt->pts * av_q2d(ic->streams[pkt->stream_index]->time_base);
        p.key = (pkt->flags & AV_PKT_FLAG_KEY) != 0;
        p.data.assign(pkt->data, pkt->data + pkt->size);
        file.packets.push_back(std::move(p));
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    avformat_close_input(&ic);
    return file;
}

std::vector<float> decodeAudio(const std::string& path) {
    std::vector<float> out;
    AVFormatContext* ic = nullptr;
    if (avformat_open_input(&ic, path.c_str(), nullptr, nullptr) < 0) return out;
    avformat_find_stream_info(ic, nullptr);
    const int index = av_find_best_stream(ic, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (index < 0) {
        avformat_close_input(&ic);
        return out;
    }
    const AVCodec* codec = avcodec_find_decoder(ic->streams[index]->codecpar->codec_id);
    AVCodecContext* dec = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(dec, ic->streams[index]->codecpar);
    avcodec_open2(dec, codec, nullptr);
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    auto drain = [&] {
        while (avcodec_receive_frame(dec, frame) == 0) {
            const float* l = reinterpret_cast<const float*>(frame->data[0]);
            const float* r = reinterpret_cast<const float*>(frame->data[1]);
            for (int i = 0; i < frame->nb_samples; ++i) {
                out.push_back(l[i]);
                out.push_back(r[i]);
            }
            av_frame_unref(frame);
        }
    };
    while (av_read_frame(ic, pkt) >= 0) {
        if (pkt->stream_index == index && avcodec_send_packet(dec, pkt) >= 0) drain();
        av_packet_unref(pkt);
    }
    avcodec_send_packet(dec, nullptr);
    drain();
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&dec);
    avformat_close_input(&ic);
    return out;
}

std::vector<std::vector<uint8_t>> nalUnits(const std::vector<uint8_t>& data, bool lengthPrefixed) {
    std::vector<std::vector<uint8_t>> units;
    if (lengthPrefixed) {
        size_t i = 0;
        while (i + 4 <= data.size()) {
            const size_t n = (size_t(data[i]) << 24) | (size_t(data[i + 1]) << 16) |
                             (size_t(data[i + 2]) << 8) | data[i + 3];
            i += 4;
            if (i + n > data.size()) break;
            units.emplace_back(data.begin() + long(i), data.begin() + long(i + n));
            i += n;
        }
        return units;
    }
    size_t i = 0, start = SIZE_MAX;
    while (i + 3 <= data.size()) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
            if (start != SIZE_MAX) {
                size_t end = i;
                while (end > start && data[end - 1] == 0) --end;  // 4-byte start code's zero
                units.emplace_back(data.begin() + long(start), data.begin() + long(end));
            }
            i += 3;
            start = i;
        } else {
            ++i;
        }
    }
    if (start != SIZE_MAX) units.emplace_back(data.begin() + long(start), data.end());
    return units;
}

}  // namespace corvane::test

// libx265 3.5 keeps one small block from x265_encoder_open past x265_encoder_close; that leak is
// the library's, not ours, so the leak checker of the sanitizer build is told to skip it.
extern "C" const char* __lsan_default_suppressions() { return "leak:libx265.so\n"; }
