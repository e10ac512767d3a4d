#include "media/trim/FfmpegClipTrimmer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/mathematics.h>
}

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>

namespace corvane {

namespace {

std::string errorText(int err) {
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(err, buf, sizeof buf);
    return buf;
}

TrimOutcome failure(const std::string& message, int code = -3) {
    TrimOutcome o;
    o.status = TrimOutcome::Status::Failed;
    o.error = ClipError{"Corvane", code, message};
    return o;
}

struct InputCloser {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};

// Owns the output context; removes the file unless it was finished.
class Output {
public:
    explicit Output(std::string path) : path_(std::move(path)) {}
    ~Output() {
        if (!ctx_) return;
        if (ctx_->pb) avio_closep(&ctx_->pb);
        avformat_free_context(ctx_);
        if (!finished_) ::unlink(path_.c_str());
    }
    AVFormatContext*& ctx() { return ctx_; }
    void markFinished() { finished_ = true; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    AVFormatContext* ctx_ = nullptr;
    bool finished_ = false;
};

struct StreamMap {
    int in = -1;
    AVStream* out = nullptr;
    int64_t startTs = 0;  // the cut start in the input stream's time base
    int64_t endTs = 0;    // the cut end in the input stream's time base
};

bool flushToDisk(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

// Finds the last audio packet that ends at or before `startTs` (stream time base) by reading the
// clip a second time from a little earlier. Used when the main read began too late for it (the
// cut starts exactly on a keyframe, so the demuxer placed the audio right at the start).
bool fetchAudioPreRoll(const std::string& source, int stream, int64_t startTs, AVPacket* out) {
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, source.c_str(), nullptr, nullptr) < 0) return false;
    std::unique_ptr<AVFormatContext, InputCloser> ic(raw);
    if (stream >= static_cast<int>(ic->nb_streams)) return false;
    const AVRational tb = ic->streams[stream]->time_base;
    const int64_t margin = av_rescale_q(200'000, AVRational{1, 1'000'000}, tb);  // 0.2 s
    if (av_seek_frame(ic.get(), stream, startTs - margin, AVSEEK_FLAG_BACKWARD) < 0) return false;
    std::unique_ptr<AVPacket, PacketFree> pkt(av_packet_alloc());
    bool found = false;
    while (av_read_frame(ic.get(), pkt.get()) >= 0) {
        if (pkt->stream_index != stream || pkt->pts == AV_NOPTS_VALUE) {
            av_packet_unref(pkt.get());
            continue;
        }
        if (pkt->pts + pkt->duration > startTs) break;
        av_packet_unref(out);
        av_packet_move_ref(out, pkt.get());
        found = true;
    }
    return found;
}

}  // namespace

TrimOutcome FfmpegClipTrimmer::trim(const std::string& source, const std::string& destination,
                                    double startSeconds, double endSeconds,
                                    const std::atomic<bool>& cancelled) {
    if (!std::isfinite(startSeconds) || !std::isfinite(endSeconds) || startSeconds < 0 ||
        endSeconds <= startSeconds) {
        return {TrimOutcome::Status::NoVideoInRange, {}};
    }
    struct stat st{};
    if (::stat(source.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return failure("The clip cannot be read: it is not a regular file");

    AVFormatContext* rawIn = nullptr;
    int err = avformat_open_input(&rawIn, source.c_str(), nullptr, nullptr);
    if (err < 0) return failure("The clip cannot be read (" + errorText(err) + ")");
    std::unique_ptr<AVFormatContext, InputCloser> in(rawIn);
    if ((err = avformat_find_stream_info(in.get(), nullptr)) < 0)
        return failure("The clip cannot be read (" + errorText(err) + ")");

    StreamMap video, audio;
    video.in = av_find_best_stream(in.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    audio.in = av_find_best_stream(in.get(), AVMEDIA_TYPE_AUDIO, -1, video.in, nullptr, 0);
    if (video.in < 0) return failure("The clip has no video track");

    Output out(destination);
    err = avformat_alloc_output_context2(&out.ctx(), nullptr, "mp4", destination.c_str());
    if (err < 0 || !out.ctx()) return failure("Unable to initialize export session", -2);

    for (StreamMap* m : {&video, &audio}) {
        if (m->in < 0) continue;
        const AVStream* is = in->streams[m->in];
        m->out = avformat_new_stream(out.ctx(), nullptr);
        if (!m->out || avcodec_parameters_copy(m->out->codecpar, is->codecpar) < 0)
            return failure("Unable to initialize export session", -2);
        // Keep "hvc1" for HEVC (wider player support); let the muxer choose otherwise.
        const uint32_t hvc1 = MKTAG('h', 'v', 'c', '1');
        m->out->codecpar->codec_tag = is->codecpar->codec_tag == hvc1 ? hvc1 : 0;
        m->out->time_base = is->time_base;
        m->out->disposition = is->disposition;
        m->startTs = av_rescale_q(std::llround(startSeconds * AV_TIME_BASE), AV_TIME_BASE_Q, is->time_base);
        m->endTs = av_rescale_q(std::llround(endSeconds * AV_TIME_BASE), AV_TIME_BASE_Q, is->time_base);
    }

    if ((err = avio_open(&out.ctx()->pb, destination.c_str(), AVIO_FLAG_WRITE)) < 0)
        return failure("Cannot write the trimmed clip (" + errorText(err) + ")");
    // Negative leading times must reach the muxer as they are: they become the edit list that
    // makes the start frame-exact. Shifting them to zero would snap the start to the keyframe.
    out.ctx()->avoid_negative_ts = AVFMT_AVOID_NEG_TS_DISABLED;
    if ((err = avformat_write_header(out.ctx(), nullptr)) < 0)
        return failure("Cannot write the trimmed clip (" + errorText(err) + ")");

    // Seek the video to the keyframe at or before the start; the demuxer places the audio near it.
    const int64_t seekTs = video.startTs;
    if (av_seek_frame(in.get(), video.in, seekTs, AVSEEK_FLAG_BACKWARD) < 0)
        av_seek_frame(in.get(), -1, 0, AVSEEK_FLAG_BACKWARD);

    std::unique_ptr<AVPacket, PacketFree> pkt(av_packet_alloc());
    std::unique_ptr<AVPacket, PacketFree> preRoll(av_packet_alloc());
    bool havePreRoll = false;
    bool videoStarted = false;
    bool videoDone = false;
    bool audioStarted = false;
    bool audioDone = audio.in < 0;
    int64_t visibleVideoPackets = 0;

    auto writeShifted = [&](AVPacket* p, const StreamMap& m) -> int {
        if (p->pts != AV_NOPTS_VALUE) p->pts -= m.startTs;
        if (p->dts != AV_NOPTS_VALUE) p->dts -= m.startTs;
        p->stream_index = m.out->index;
        av_packet_rescale_ts(p, in->streams[m.in]->time_base, m.out->time_base);
        p->pos = -1;
        return av_interleaved_write_frame(out.ctx(), p);
    };

    while (!(videoDone && audioDone)) {
        if (cancelled.load()) return {TrimOutcome::Status::Cancelled, {}};
        err = av_read_frame(in.get(), pkt.get());
        if (err == AVERROR_EOF) break;
        if (err < 0) return failure("The clip cannot be read (" + errorText(err) + ")");

        if (pkt->stream_index == video.in && !videoDone) {
            const int64_t t = pkt->dts != AV_NOPTS_VALUE ? pkt->dts : pkt->pts;
            if (!videoStarted) {
                if (!(pkt->flags & AV_PKT_FLAG_KEY)) {
                    av_packet_unref(pkt.get());
                    continue;
                }
                videoStarted = true;
            }
            if (t != AV_NOPTS_VALUE && t >= video.endTs) {
                videoDone = true;
                av_packet_unref(pkt.get());
                continue;
            }
            // A frame is on screen in the range when it ends after the start.
            if (pkt->pts != AV_NOPTS_VALUE && pkt->pts + std::max<int64_t>(pkt->duration, 1) > video.startTs)
                ++visibleVideoPackets;
            if ((err = writeShifted(pkt.get(), video)) < 0)
                return failure("Cannot write the trimmed clip (" + errorText(err) + ")");
        } else if (pkt->stream_index == audio.in && !audioDone) {
            const int64_t pts = pkt->pts;
            if (pts == AV_NOPTS_VALUE) {
                av_packet_unref(pkt.get());
                continue;
            }
            if (pts >= audio.endTs) {
                audioDone = true;
                av_packet_unref(pkt.get());
                continue;
            }
            if (!audioStarted && pts + pkt->duration <= audio.startTs) {
                // Entirely before the start: remember only the latest as pre-roll.
                av_packet_unref(preRoll.get());
                av_packet_move_ref(preRoll.get(), pkt.get());
                havePreRoll = true;
                continue;
            }
            if (!audioStarted) {
                audioStarted = true;
                if (!havePreRoll)
                    havePreRoll = fetchAudioPreRoll(source, audio.in, audio.startTs, preRoll.get());
                if (havePreRoll && (err = writeShifted(preRoll.get(), audio)) < 0)
                    return failure("Cannot write the trimmed clip (" + errorText(err) + ")");
            }
            if ((err = writeShifted(pkt.get(), audio)) < 0)
                return failure("Cannot write the trimmed clip (" + errorText(err) + ")");
        }
        av_packet_unref(pkt.get());
    }

    // A range past the last frame holds nothing to show: no file, and the caller says so.
    if (visibleVideoPackets == 0) return {TrimOutcome::Status::NoVideoInRange, {}};
    if ((err = av_write_trailer(out.ctx())) < 0)
        return failure("Cannot write the trimmed clip (" + errorText(err) + ")");
    if ((err = avio_closep(&out.ctx()->pb)) < 0)
        return failure("Cannot write the trimmed clip (" + errorText(err) + ")");
    if (!flushToDisk(destination)) return failure("Cannot write the trimmed clip (flush failed)");
    if (cancelled.load()) return {TrimOutcome::Status::Cancelled, {}};
    out.markFinished();
    return {};
}

}  // namespace corvane
