#include <mutex>

#include <gtest/gtest.h>

#include "MediaTestSupport.h"
#include "media/HardwareAcceleration.h"
#include "media/MediaLogging.h"
#include "media/encoder/LiveCodec.h"
#include "media/encoder/SameSizeConversion.h"
#include "support/CaptureLogLines.h"

extern "C" {
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

// libx265 3.5 keeps one small block from x265_encoder_open past x265_encoder_close; that leak is
// the library's, not ours, so the leak checker of the sanitizer build is told to skip it.
extern "C" const char* __lsan_default_suppressions() { return "leak:libx265.so\n"; }

namespace corvane {
namespace {

class CollectingSink final : public VideoPacketSink {
public:
    void appendVideo(VideoSampleRef packet, bool isKeyframe) override {
        std::lock_guard lock(mutex);
        EXPECT_EQ(isKeyframe, packet->isKeyframe);
        packets.push_back(std::move(packet));
    }
    std::mutex mutex;
    std::vector<VideoSampleRef> packets;
};

MediaTime micros(double seconds) { return MediaTime::fromSeconds(1000 + seconds, 1000000); }

// With the machine's real candidate list: whatever hardware is (not) there, an encoder comes up
// and keyframes come once per second of capture time (the banner is checked with the survey below).
TEST(EncoderKeyframes, OnePerSecondOnTheGridEvenForSlowSourcesWithStrictlyIncreasingStamps) {
    struct Case { int frames; double interval; MediaTime given; int perKey; };
    // 10 frames per second into a 30 fps encoder: a frame-count GOP alone would give one
    // keyframe every 3 s. Without a usable duration a frame lasts 1/fps.
    for (const Case c : {Case{90, 1 / 30.0, MediaTime::invalid(), 30}, Case{30, 0.1, MediaTime(1, 10), 10}}) {
        auto sink = std::make_shared<CollectingSink>();
        CorvaneEncoder encoder(test::encoderSettings(160, 120), sink);
        ASSERT_TRUE(encoder.isReady());
        test::MovingPattern pattern(160, 120);
        for (int i = 0; i < c.frames; ++i) encoder.encode(pattern.frame(i, micros(i * c.interval), c.given));
        // Two catch-up frames with the same stamp as the last one keep their order.
        const MediaTime last = micros((c.frames - 1) * c.interval);
        encoder.encode(pattern.frame(c.frames, last));
        encoder.encode(pattern.frame(c.frames + 1, last, MediaTime(0, 1)));
        encoder.finish();
        encoder.encode(pattern.frame(0, micros(100)));  // after finish: ignored

        ASSERT_EQ(sink->packets.size(), size_t(c.frames + 2));
        EXPECT_EQ(sink->packets.front()->pts, micros(0));
        for (size_t i = 0; i < sink->packets.size(); ++i) {
            const VideoPacket& p = *sink->packets[i];
            if (int(i) < c.frames) {
                EXPECT_EQ(p.isKeyframe, i % size_t(c.perKey) == 0) << "frame " << i;
                EXPECT_EQ(p.duration, c.given.isValid() ? c.given : MediaTime(1, 30));
            }
            if (i > 0) {
                EXPECT_GT(p.pts, sink->packets[i - 1]->pts) << "frame " << i;
            }
            EXPECT_EQ(p.format, encoder.format());
        }
        EXPECT_EQ(sink->packets.back()->duration, MediaTime(1, 30));
        EXPECT_FALSE(encoder.format()->extradata.empty());
    }
}

TEST(EncoderLifecycle, ScalesOddSizesReopeningMakesANewFormatAndAGoneSinkIsHarmless) {
    auto sink = std::make_shared<CollectingSink>();
    test::MovingPattern odd(301, 201);
    for (int round = 0; round < 2; ++round) {
        CorvaneEncoder encoder(test::encoderSettings(301, 201), sink, test::softwareOnly());
        EXPECT_EQ(std::pair(encoder.format()->width, encoder.format()->height), std::pair(300, 200));
        encoder.encode(odd.frame(round, micros(round)));
        encoder.finish();
    }
    ASSERT_EQ(sink->packets.size(), 2u);
    EXPECT_NE(sink->packets[1]->format, sink->packets[0]->format);
    EXPECT_GT(sink->packets[1]->encoderGeneration, sink->packets[0]->encoderGeneration);

    std::weak_ptr<CollectingSink> weak = sink;
    CorvaneEncoder third(test::encoderSettings(301, 201), sink, test::softwareOnly());
    sink.reset();
    third.encode(odd.frame(0, micros(0)));
    third.finish();
    EXPECT_TRUE(weak.expired());
}

// H.264 hardware, then HEVC hardware, then the standard encoder of the codec chosen at creation
// (not the HEVC of the second attempt); frames over the H.264 hardware limit go straight to HEVC.
TEST(EncoderSetup, FallsBackInOrderToTheCreationCodecAndLargeFramesTakeHevc) {
    EncoderCandidates failing;
    failing.h264Hardware = {"no_such_h264_encoder"};
    failing.hevcHardware = {"no_such_hevc_encoder", "libx264"};  // not an HEVC encoder: refused too
    auto sink = std::make_shared<CollectingSink>();
    for (const VideoCodec codec : {VideoCodec::H264, VideoCodec::HEVC}) {
        test::LogCapture log;
        CorvaneEncoder encoder(test::encoderSettings(320, 240, codec), sink, failing);
        EXPECT_EQ(log.count("Retrying with HEVC hardware encoder"), int(codec == VideoCodec::H264));
        EXPECT_EQ(log.count("Retrying with standard encoder"), 1);
        EXPECT_TRUE(encoder.isReady());
        EXPECT_EQ(encoder.encoderName(), codec == VideoCodec::H264 ? "libx264" : "libx265");
        EXPECT_EQ(encoder.format()->codec, codec);
    }
    // Nothing at all: not ready, and encoding is a harmless no-op.
    failing.h264Software = "no_such_software";
    CorvaneEncoder dead(test::encoderSettings(320, 240), sink, failing);
    EXPECT_FALSE(dead.isReady());
    test::MovingPattern pattern(320, 240);
    dead.encode(pattern.frame(0, micros(0)));
    dead.finish();
    EXPECT_TRUE(sink->packets.empty());

    failing.hevcSoftware = "no_such_software";
    struct Case { int w, h; bool hevc; };
    for (const Case c : {Case{3840, 2160, false}, Case{5120, 2880, true}, Case{4096, 2305, true},
                         Case{4096, 2304, false}}) {
        test::LogCapture sizeLog;
        CorvaneEncoder encoder(test::encoderSettings(c.w, c.h), sink, failing);
        EXPECT_EQ(sizeLog.contains("H.264 hardware encoder setup failed"), !c.hevc) << c.w << "x" << c.h;
        EXPECT_EQ(encoder.videoCodec(), c.hevc ? VideoCodec::HEVC : VideoCodec::H264) << c.w << "x" << c.h;
    }
}

// The fast path must give swscale's picture (same matrix and range, same byte order), within
// rounding, for the encoders' two input formats; others are left to swscale.
TEST(EncoderConversion, SameSizeFastPathMatchesSwscaleAndDeclinesOtherFormats) {
    const int width = 66, height = 38, stride = width * 4 + 8;  // padded rows, as X11 gives
    std::vector<uint8_t> bgrx(size_t(stride) * height);
    // Smooth gradients over all three channels: the two paths may sample chroma differently
    // (a 2x2 average against one row), which only fine detail would show.
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* pixel = &bgrx[size_t(y) * stride + size_t(x) * 4];
            pixel[0] = uint8_t(x * 3);
            pixel[1] = uint8_t(255 - y * 5);
            pixel[2] = uint8_t((x + y) * 2);
        }
    auto frameOf = [&](AVPixelFormat format) {
        AVFrame* frame = av_frame_alloc();
        frame->format = format;
        frame->width = width;
        frame->height = height;
        EXPECT_EQ(av_frame_get_buffer(frame, 0), 0);
        return frame;
    };
    for (AVPixelFormat format : {AV_PIX_FMT_YUV420P, AV_PIX_FMT_NV12}) {
        AVFrame* fast = frameOf(format);
        AVFrame* reference = frameOf(format);
        ASSERT_TRUE(convertSameSize(bgrx.data(), stride, width, height, *fast));
        SwsContext* sws = sws_getContext(width, height, AV_PIX_FMT_BGR0, width, height, format,
                                         SWS_POINT | SWS_ACCURATE_RND, nullptr, nullptr, nullptr);
        const uint8_t* source[4] = {bgrx.data()};
        const int sourceStride[4] = {stride};
        sws_scale(sws, source, sourceStride, 0, height, reference->data, reference->linesize);
        sws_freeContext(sws);
        const int planes = format == AV_PIX_FMT_NV12 ? 2 : 3;
        for (int plane = 0; plane < planes; ++plane) {
            const int rows = plane == 0 ? height : height / 2;
            const int bytes = plane == 0 || format == AV_PIX_FMT_NV12 ? width : width / 2;
            int worst = 0;
            for (int y = 0; y < rows; ++y)
                for (int x = 0; x < bytes; ++x)
                    worst = std::max(worst, std::abs(fast->data[plane][y * fast->linesize[plane] + x] -
                                                     reference->data[plane][y * reference->linesize[plane] + x]));
            EXPECT_LE(worst, 3) << av_get_pix_fmt_name(format) << " plane " << plane;
        }
        av_frame_free(&fast);
        av_frame_free(&reference);
    }
    AVFrame* other = frameOf(AV_PIX_FMT_YUV444P);
    EXPECT_FALSE(convertSameSize(bgrx.data(), stride, width, height, *other));
    av_frame_free(&other);
    AVFrame* smaller = frameOf(AV_PIX_FMT_YUV420P);
    EXPECT_FALSE(convertSameSize(bgrx.data(), stride, width + 2, height, *smaller)) << "a resize is not its job";
    av_frame_free(&smaller);
}

// Start-up asks for the banner and the capture opens encoders, again at every restart: the
// dedicated encoders are probed once, without FFmpeg's errors for the ones that cannot open
// here (no GPU: "Cannot load libcuda.so.1", no VA display), and the result is one line.
TEST(EncoderSetup, HardwareIsProbedOnceQuietlyAndReportedInOneLine) {
    quietMediaLibraryLogs();  // as the program does: FFmpeg's errors still print
    resetHardwareEncoderSurveyForTesting();
    test::LogCapture log;
    ::testing::internal::CaptureStderr();  // FFmpeg's log goes to standard error
    const std::string banner = describeHardwareAcceleration(VideoCodec::H264);
    EXPECT_FALSE(describeHardwareAcceleration(VideoCodec::HEVC).empty());
    FfmpegVideoEncoderFactory factory;
    auto sink = std::make_shared<CollectingSink>();
    std::string used;
    for (int start = 0; start < 2; ++start) {
        std::unique_ptr<VideoEncoder> encoder = factory.create(test::encoderSettings(320, 240), sink);
        ASSERT_TRUE(encoder->isReady());
        used = static_cast<CorvaneEncoder&>(*encoder).encoderName();
    }
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(log.count("Hardware video encoders: "), 1) << ::testing::PrintToString(log.lines());
    EXPECT_EQ(log.lines().size(), 1u) << ::testing::PrintToString(log.lines());
    const HardwareEncoderSurvey& survey = hardwareEncoderSurvey();
    EXPECT_EQ(used, survey.h264.value_or(survey.hevc.value_or("libx264")));
    EXPECT_NE(banner.find(used == "libx264" ? "none (libx264 software)" : "(" + used + ")"), std::string::npos)
        << banner << " does not name " << used;
}

TEST(EncoderRateControl, SixtyFourBitArithmeticClampedWhereLibavcodecTakesAnInt) {
    EXPECT_EQ(rateControlFor(8000).bufferBits, 12'000'000);
    const RateControl huge = rateControlFor(4'000'000);
    EXPECT_EQ(huge.averageBitsPerSecond, 4'000'000'000);
    EXPECT_EQ(huge.bufferBits, INT32_MAX);
}

}  // namespace
}  // namespace corvane
