// From the screen and the speakers to a clip on disk: real X11 capture, real system audio, the real
// encoder, buffer and exporter; the clip must decode cleanly with both tracks and the tone in it.
#include "core/capture/CorvaneCapture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <cmath>

#include "core/log/Log.h"
#include "media/CorvaneEncoder.h"
#include "media/CorvaneExporter.h"
#include "platform/audio/PulseSystemAudio.h"
#include "platform/audio/TonePlayer.h"
#include "platform/sched/QtMainScheduler.h"
#include "platform/x11/X11ScreenCapture.h"
#include "support/TempDir.h"

namespace corvane {
namespace {

using namespace std::chrono_literals;

bool pumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeout.count()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

struct DecodedClip {
    int videoFrames = 0;
    int width = 0, height = 0;
    int audioSampleRate = 0, audioChannels = 0;
    int64_t audioSamples = 0;
    double audioRms = 0;
    int decodeErrors = 0;
};

// Decodes every packet of both tracks, counting what comes out and any error on the way.
DecodedClip decodeClip(const std::string& path) {
    DecodedClip out;
    AVFormatContext* fmt = nullptr;
    if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0) {
        out.decodeErrors = -1;
        return out;
    }
    avformat_find_stream_info(fmt, nullptr);
    std::vector<AVCodecContext*> decoders(fmt->nb_streams, nullptr);
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        const AVCodec* codec = avcodec_find_decoder(fmt->streams[i]->codecpar->codec_id);
        if (!codec) continue;
        decoders[i] = avcodec_alloc_context3(codec);
        avcodec_parameters_to_context(decoders[i], fmt->streams[i]->codecpar);
        if (avcodec_open2(decoders[i], codec, nullptr) < 0) ++out.decodeErrors;
    }
    double sumSquares = 0;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    auto drain = [&](AVCodecContext* ctx) {
        while (avcodec_receive_frame(ctx, frame) == 0) {
            if (ctx->codec_type == AVMEDIA_TYPE_VIDEO) {
                ++out.videoFrames;
                out.width = frame->width;
                out.height = frame->height;
            } else if (ctx->codec_type == AVMEDIA_TYPE_AUDIO) {
                out.audioSampleRate = frame->sample_rate;
                out.audioChannels = frame->ch_layout.nb_channels;
                out.audioSamples += frame->nb_samples;
                if (frame->format == AV_SAMPLE_FMT_FLTP) {
                    auto* left = reinterpret_cast<const float*>(frame->data[0]);
                    for (int s = 0; s < frame->nb_samples; ++s) sumSquares += double(left[s]) * left[s];
                }
            }
            av_frame_unref(frame);
        }
    };
    while (av_read_frame(fmt, packet) >= 0) {
        AVCodecContext* ctx = decoders[size_t(packet->stream_index)];
        if (ctx && avcodec_send_packet(ctx, packet) < 0) ++out.decodeErrors;
        if (ctx) drain(ctx);
        av_packet_unref(packet);
    }
    for (AVCodecContext* ctx : decoders) {
        if (!ctx) continue;
        avcodec_send_packet(ctx, nullptr);
        drain(ctx);
        avcodec_free_context(&ctx);
    }
    if (out.audioSamples > 0) out.audioRms = std::sqrt(sumSquares / double(out.audioSamples));
    av_frame_free(&frame);
    av_packet_free(&packet);
    avformat_close_input(&fmt);
    return out;
}

TEST(CaptureToClip, RealCaptureExportsAPlayableClipWithBothTracks) {
    setLogSinkForTesting([](const std::string&) {});
    QtMainScheduler scheduler;
    X11ScreenCaptureBackend screen;
    PulseSystemAudioBackend audio;
    FfmpegVideoEncoderFactory encoders;
    auto ring = std::make_shared<CorvaneRingBuffer>(130.0);
    CaptureSettings settings;
    settings.fps = 30;
    settings.targetWidth = 640;
    settings.targetHeight = 360;
    settings.recordAudio = true;
    test::TempDir folder;
    {
        CorvaneCapture capture(settings, ring, {screen, &audio, encoders, scheduler});
        testing::Tone tone;
        ASSERT_TRUE(tone.ok());
        capture.start();
        ASSERT_TRUE(pumpUntil([&] { return capture.isRunning(); }, 3s));
        // Audio may take two seconds to flow; then keep three seconds of both.
        ASSERT_TRUE(pumpUntil([&] { return ring->getStatus().audioCount > 0; }, 5s))
            << "no system audio reached the buffer";
        pumpUntil([] { return false; }, 3s);
        EXPECT_TRUE(capture.stopAndWait(2s));
    }
    CorvaneExporter exporter;
    ClipExportResult result = exporter.exportClip(*ring, 2.0, folder.path().string(), false, true);
    setLogSinkForTesting(nullptr);
    ASSERT_TRUE(result.ok()) << result.reason;

    DecodedClip clip = decodeClip(result.path);
    EXPECT_EQ(clip.decodeErrors, 0);
    EXPECT_EQ(clip.width, 640);
    EXPECT_EQ(clip.height, 360);
    EXPECT_GE(clip.videoFrames, 45);  // about two seconds at 30 fps
    EXPECT_EQ(clip.audioSampleRate, 48000);
    EXPECT_EQ(clip.audioChannels, 2);
    EXPECT_GT(clip.audioSamples, 48000);
    EXPECT_GT(clip.audioRms, 0.02) << "the tone should be in the clip's audio";
}

}  // namespace
}  // namespace corvane
