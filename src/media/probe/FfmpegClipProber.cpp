#include "media/probe/FfmpegClipProber.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <memory>

namespace corvane {

namespace {

struct FormatCloser {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct CodecCloser {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};

bool isRegularFile(const std::string& path) {
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::unique_ptr<AVFormatContext, FormatCloser> openInput(const std::string& path) {
    if (!isRegularFile(path)) return nullptr;
    AVFormatContext* ic = nullptr;
    // Clips are MP4, so they are opened as such first. Guessing runs every demuxer's probe over
    // the file, which pages in most of libavformat and libraries some demuxers use (about 3 MB
    // that stay resident); a file that is something else inside still gets the guess.
    static const AVInputFormat* const mp4 = av_find_input_format("mp4");
    if (mp4 && avformat_open_input(&ic, path.c_str(), mp4, nullptr) == 0)
        return std::unique_ptr<AVFormatContext, FormatCloser>(ic);
    if (avformat_open_input(&ic, path.c_str(), nullptr, nullptr) < 0) return nullptr;
    return std::unique_ptr<AVFormatContext, FormatCloser>(ic);
}

double durationOf(AVFormatContext* ic) {
    double seconds = 0;
    if (ic->duration != AV_NOPTS_VALUE && ic->duration > 0) {
        seconds = static_cast<double>(ic->duration) / AV_TIME_BASE;
    } else {
        for (unsigned i = 0; i < ic->nb_streams; ++i) {
            const AVStream* s = ic->streams[i];
            if (s->duration > 0) seconds = std::max(seconds, s->duration * av_q2d(s->time_base));
        }
    }
    return std::isfinite(seconds) && seconds > 0 ? seconds : 0;
}

Thumbnail decodeFirstPicture(AVFormatContext* ic, int maxW, int maxH) {
    const int v = av_find_best_stream(ic, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (v < 0) return {};
    const AVCodecParameters* par = ic->streams[v]->codecpar;
    const AVCodec* codec = avcodec_find_decoder(par->codec_id);
    if (!codec) return {};
    std::unique_ptr<AVCodecContext, CodecCloser> dec(avcodec_alloc_context3(codec));
    if (!dec || avcodec_parameters_to_context(dec.get(), par) < 0) return {};
    dec->thread_count = 1;  // one picture: threads cost more than they give
    if (avcodec_open2(dec.get(), codec, nullptr) < 0) return {};

    std::unique_ptr<AVPacket, PacketFree> pkt(av_packet_alloc());
    std::unique_ptr<AVFrame, FrameFree> frame(av_frame_alloc());
    bool got = false;
    // A clip starts with a keyframe; a few packets are enough. Bound the work on damaged files.
    for (int packets = 0; !got && packets < 300; ) {
        const int r = av_read_frame(ic, pkt.get());
        if (r < 0) {
            avcodec_send_packet(dec.get(), nullptr);
        } else {
            if (pkt->stream_index != v) {
                av_packet_unref(pkt.get());
                continue;
            }
            ++packets;
            avcodec_send_packet(dec.get(), pkt.get());
            av_packet_unref(pkt.get());
        }
        const int got_frame = avcodec_receive_frame(dec.get(), frame.get());
        if (got_frame == 0) got = true;
        else if (r < 0) break;
    }
    if (!got || frame->width <= 0 || frame->height <= 0) return {};

    const double scale = std::min(static_cast<double>(maxW) / frame->width,
                                  static_cast<double>(maxH) / frame->height);
    const int w = std::max(2, static_cast<int>(std::lround(frame->width * std::min(scale, 1.0))));
    const int h = std::max(2, static_cast<int>(std::lround(frame->height * std::min(scale, 1.0))));
    SwsContext* sws = sws_getContext(frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
                                     w, h, AV_PIX_FMT_RGB24, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!sws) return {};
    Thumbnail t;
    t.width = w;
    t.height = h;
    t.rgb.resize(static_cast<size_t>(w) * h * 3);
    uint8_t* dst[4] = {t.rgb.data(), nullptr, nullptr, nullptr};
    int dstStride[4] = {w * 3, 0, 0, 0};
    sws_scale(sws, frame->data, frame->linesize, 0, frame->height, dst, dstStride);
    sws_freeContext(sws);
    return t;
}

}  // namespace

double FfmpegClipProber::probeDuration(const std::string& path) {
    auto ic = openInput(path);
    return ic ? durationOf(ic.get()) : 0;
}

ClipMediaInfo FfmpegClipProber::probe(const std::string& path) {
    ClipMediaInfo info;
    auto ic = openInput(path);
    if (!ic) {
        // A file that vanished or is not a regular file is not damaged, just not a clip (any more).
        info.damaged = isRegularFile(path);
        return info;
    }
    info.durationSeconds = durationOf(ic.get());
    info.thumbnail = decodeFirstPicture(ic.get(), maxWidth_, maxHeight_);
    // A clip Corvane wrote always has a length and a decodable first picture; a file without
    // both is cut off or not a video at all. The thumbnail goes with it: a grey frame of a
    // damaged file would look like a clip.
    info.damaged = info.durationSeconds <= 0 || info.thumbnail.empty();
    if (info.damaged) info.thumbnail = {};
    return info;
}

Thumbnail FfmpegClipProber::firstPicture(const std::string& path, int maxWidth, int maxHeight) {
    auto ic = openInput(path);
    return ic ? decodeFirstPicture(ic.get(), maxWidth, maxHeight) : Thumbnail{};
}

}  // namespace corvane
