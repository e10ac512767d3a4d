#include "media/encoder/LiveCodec.h"

#include <algorithm>
#include <climits>
#include <string_view>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/dict.h>
#include <libavutil/hwcontext.h>
#include <libavutil/opt.h>
}

namespace corvane {
namespace {

bool endsWith(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

void setEncoderOptions(const LiveCodecConfig& config, AVDictionary** opts) {
    const std::string& name = config.encoderName;
    const bool hevc = config.codec == VideoCodec::HEVC;
    const char* profile = hevc ? "main" : "high";
    if (name == "libx264") {
        av_dict_set(opts, "preset", softwarePresetFor(config.width, config.height, config.fps), 0);
        av_dict_set(opts, "tune", "zerolatency", 0);
        av_dict_set(opts, "profile", profile, 0);
        // Scene cuts would add keyframes off the one-second grid the replay buffer relies on.
        av_dict_set(opts, "x264-params", "scenecut=0", 0);
        av_dict_set(opts, "forced-idr", "1", 0);
    } else if (name == "libx265") {
        av_dict_set(opts, "preset", "ultrafast", 0);
        av_dict_set(opts, "tune", "zerolatency", 0);
        av_dict_set(opts, "profile", profile, 0);
        av_dict_set(opts, "forced-idr", "1", 0);
        av_dict_set(opts, "x265-params", "scenecut=0:bframes=0:log-level=error", 0);
    } else if (endsWith(name, "_nvenc")) {
        // nvenc refuses tune=zerolatency; these are its low-latency equivalents.
        av_dict_set(opts, "preset", "p2", 0);
        av_dict_set(opts, "tune", "ull", 0);
        av_dict_set(opts, "zerolatency", "1", 0);
        av_dict_set(opts, "delay", "0", 0);
        av_dict_set(opts, "profile", profile, 0);
        av_dict_set(opts, "forced-idr", "1", 0);
    } else if (endsWith(name, "_qsv")) {
        av_dict_set(opts, "preset", "veryfast", 0);
        av_dict_set(opts, "look_ahead", "0", 0);
        av_dict_set(opts, "async_depth", "1", 0);
        av_dict_set(opts, "profile", profile, 0);
        av_dict_set(opts, "forced_idr", "1", 0);
    } else if (endsWith(name, "_vaapi")) {
        av_dict_set(opts, "profile", profile, 0);
        av_dict_set(opts, "rc_mode", "VBR", 0);
    }
}

}  // namespace

const char* softwarePresetFor(int32_t width, int32_t height, int32_t fps) {
    // veryfast at 1280x720@30 leaves most of two cores for capture even on noisy content; above
    // that pixel rate only ultrafast stays comfortably real time next to capture.
    const int64_t pixelRate = int64_t(width) * height * std::max(fps, 1);
    return pixelRate <= int64_t(1280) * 720 * 30 ? "veryfast" : "ultrafast";
}

RateControl rateControlFor(int64_t bitrateKbps) {
    RateControl rc;
    const int64_t kbps = std::clamp<int64_t>(bitrateKbps, 1, INT64_MAX / 1500);
    rc.averageBitsPerSecond = kbps * 1000;
    rc.maxBitsPerSecond = kbps * 1500;
    rc.bufferBits = int(std::min<int64_t>(rc.maxBitsPerSecond, INT_MAX));
    return rc;
}

LiveCodec::~LiveCodec() {
    avcodec_free_context(&ctx_);
    av_buffer_unref(&hwFrames_);
    av_buffer_unref(&hwDevice_);
}

std::unique_ptr<LiveCodec> LiveCodec::open(const LiveCodecConfig& config, int& status) {
    const AVCodec* codec = avcodec_find_encoder_by_name(config.encoderName.c_str());
    const AVCodecID wanted = config.codec == VideoCodec::HEVC ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264;
    if (!codec || codec->id != wanted) {
        status = AVERROR_ENCODER_NOT_FOUND;
        return nullptr;
    }
    std::unique_ptr<LiveCodec> self(new LiveCodec);
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    if (!ctx) {
        status = AVERROR(ENOMEM);
        return nullptr;
    }
    self->ctx_ = ctx;

    const bool vaapi = endsWith(config.encoderName, "_vaapi");
    const bool systemNv12 = endsWith(config.encoderName, "_qsv");
    self->swFormat_ = (vaapi || systemNv12) ? AV_PIX_FMT_NV12 : AV_PIX_FMT_YUV420P;

    ctx->width = config.width;
    ctx->height = config.height;
    ctx->time_base = AVRational{1, kLiveCodecTimeBase};
    ctx->framerate = AVRational{config.fps, 1};
    ctx->pix_fmt = AVPixelFormat(self->swFormat_);
    ctx->gop_size = config.fps;
    ctx->max_b_frames = 0;
    ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    ctx->thread_count = 0;
    const RateControl rc = rateControlFor(config.bitrateKbps);
    ctx->bit_rate = rc.averageBitsPerSecond;
    ctx->rc_max_rate = rc.maxBitsPerSecond;
    ctx->rc_buffer_size = rc.bufferBits;

    if (vaapi) {
        int err = av_hwdevice_ctx_create(&self->hwDevice_, AV_HWDEVICE_TYPE_VAAPI, nullptr, nullptr, 0);
        if (err < 0) {
            status = err;
            return nullptr;
        }
        self->hwFrames_ = av_hwframe_ctx_alloc(self->hwDevice_);
        if (!self->hwFrames_) {
            status = AVERROR(ENOMEM);
            return nullptr;
        }
        auto* frames = reinterpret_cast<AVHWFramesContext*>(self->hwFrames_->data);
        frames->format = AV_PIX_FMT_VAAPI;
        frames->sw_format = AV_PIX_FMT_NV12;
        frames->width = config.width;
        frames->height = config.height;
        frames->initial_pool_size = 8;
        if ((err = av_hwframe_ctx_init(self->hwFrames_)) < 0) {
            status = err;
            return nullptr;
        }
        ctx->pix_fmt = AV_PIX_FMT_VAAPI;
        ctx->hw_frames_ctx = av_buffer_ref(self->hwFrames_);
    }

    AVDictionary* opts = nullptr;
    setEncoderOptions(config, &opts);
    const int err = avcodec_open2(ctx, codec, &opts);
    av_dict_free(&opts);
    if (err < 0) {
        status = err;
        return nullptr;
    }
    status = 0;
    return self;
}

AVFrame* LiveCodec::upload(const AVFrame* software, int& status) const {
    AVFrame* hw = av_frame_alloc();
    if (!hw) {
        status = AVERROR(ENOMEM);
        return nullptr;
    }
    if ((status = av_hwframe_get_buffer(hwFrames_, hw, 0)) < 0 ||
        (status = av_hwframe_transfer_data(hw, software, 0)) < 0 ||
        (status = av_frame_copy_props(hw, software)) < 0) {
        av_frame_free(&hw);
        return nullptr;
    }
    return hw;
}

}  // namespace corvane
