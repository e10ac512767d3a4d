#include <mutex>

#include <gtest/gtest.h>

#include "MediaTestSupport.h"
#include "core/replay/ReplayTestSupport.h"
#include "media/CorvaneEncoder.h"
#include "media/HardwareAcceleration.h"
#include "media/encoder/LiveCodec.h"

extern "C" {
#include <libavutil/error.h>
}

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

EncoderCandidates softwareOnly() {
    EncoderCandidates c;
    c.h264Hardware.clear();
    c.hevcHardware.clear();
    return c;
}

EncoderSettings settings(int w, int h, int fps = 30, bool hevc = false) {
    EncoderSettings s;
    s.width = w;
    s.height = h;
    s.fps = fps;
    s.bitrateKbps = 2000;
    s.hevc = hevc;
    return s;
}

constexpr int32_t kMicros = 1000000;
MediaTime micros(double seconds) { return MediaTime::fromSeconds(1000 + seconds, kMicros); }

TEST(EncoderKeyframes, OnePerSecondOnTheGridAndStrictlyIncreasingStamps) {
    auto sink = std::make_shared<CollectingSink>();
    CorvaneEncoder encoder(settings(320, 240), sink, softwareOnly());
    ASSERT_TRUE(encoder.isReady());
    EXPECT_EQ(encoder.encoderName(), "libx264");
    test::MovingPattern pattern(320, 240);
    for (int i = 0; i < 90; ++i) encoder.encode(pattern.frame(i, micros(i / 30.0)));
    encoder.finish();
    encoder.encode(pattern.frame(90, micros(3.0)));  // after finish: ignored

    ASSERT_EQ(sink->packets.size(), 90u);
    for (size_t i = 0; i < 90; ++i) {
        const VideoPacket& p = *sink->packets[i];
        EXPECT_EQ(p.isKeyframe, i % 30 == 0) << "frame " << i;
        if (i > 0) {
            EXPECT_GT(p.pts, sink->packets[i - 1]->pts);
        }
        EXPECT_EQ(p.format, encoder.format());
        EXPECT_EQ(p.duration, MediaTime(1, 30));  // no usable duration given: 1/fps
    }
    EXPECT_EQ(sink->packets.front()->pts, micros(0));
    ASSERT_TRUE(encoder.format());
    EXPECT_FALSE(encoder.format()->extradata.empty());
    EXPECT_EQ(encoder.format()->codec, VideoCodec::H264);
}

TEST(EncoderKeyframes, SlowSourcesStillGetOneKeyframePerSecondAndCatchUpFramesKeepOrder) {
    auto sink = std::make_shared<CollectingSink>();
    CorvaneEncoder encoder(settings(160, 120, 30), sink, softwareOnly());
    test::MovingPattern pattern(160, 120);
    // 10 frames per second into a 30 fps encoder: the frame-count GOP alone would give one
    // keyframe every 3 s.
    for (int i = 0; i < 30; ++i)
        encoder.encode(pattern.frame(i, micros(i / 10.0), MediaTime(1, 10)));
    // Two catch-up frames with the same stamp as the last one.
    encoder.encode(pattern.frame(30, micros(2.9)));
    encoder.encode(pattern.frame(31, micros(2.9), MediaTime(0, 1)));
    encoder.finish();

    ASSERT_EQ(sink->packets.size(), 32u);
    for (size_t i = 0; i < 30; ++i) {
        EXPECT_EQ(sink->packets[i]->isKeyframe, i % 10 == 0) << "frame " << i;
        EXPECT_EQ(sink->packets[i]->duration, MediaTime(1, 10));
    }
    EXPECT_GT(sink->packets[30]->pts, sink->packets[29]->pts);
    EXPECT_GT(sink->packets[31]->pts, sink->packets[30]->pts);
    EXPECT_EQ(sink->packets[31]->duration, MediaTime(1, 30));
}

TEST(EncoderLifecycle, ScalesOddSizesReopeningMakesANewFormatAndAGoneSinkIsHarmless) {
    auto sink = std::make_shared<CollectingSink>();
    test::MovingPattern odd(301, 201);
    CorvaneEncoder first(settings(301, 201), sink, softwareOnly());
    EXPECT_EQ(first.width(), 300);
    EXPECT_EQ(first.height(), 200);
    for (int i = 0; i < 5; ++i) first.encode(odd.frame(i, micros(i / 30.0)));
    first.finish();
    CorvaneEncoder second(settings(301, 201), sink, softwareOnly());
    second.encode(odd.frame(0, micros(1)));
    second.finish();
    ASSERT_EQ(sink->packets.size(), 6u);
    EXPECT_NE(sink->packets[5]->format, sink->packets[0]->format);
    EXPECT_GT(sink->packets[5]->encoderGeneration, sink->packets[0]->encoderGeneration);

    std::weak_ptr<CollectingSink> weak;
    {
        auto shortLived = std::make_shared<CollectingSink>();
        weak = shortLived;
        CorvaneEncoder third(settings(160, 120), shortLived, softwareOnly());
        shortLived.reset();
        test::MovingPattern small(160, 120);
        third.encode(small.frame(0, micros(0)));
        third.finish();
    }
    EXPECT_TRUE(weak.expired());
}

TEST(EncoderSetup, FallsBackInOrderWithTheMessagesAndTheCreationCodec) {
    test::LogCapture log;
    EncoderCandidates failing;
    failing.h264Hardware = {"no_such_h264_encoder"};
    failing.hevcHardware = {"no_such_hevc_encoder", "libx264"};  // not an HEVC encoder: refused too
    auto sink = std::make_shared<CollectingSink>();
    {
        CorvaneEncoder h264(settings(320, 240), sink, failing);
        const std::string status = std::to_string(AVERROR_ENCODER_NOT_FOUND);
        ASSERT_EQ(log.lines().size(), 2u);
        EXPECT_EQ(log.lines()[0], "[Corvane] H.264 hardware encoder setup failed (" + status +
                                      "). Retrying with HEVC hardware encoder...");
        EXPECT_EQ(log.lines()[1], "[Corvane] Dedicated hardware encoder unavailable (" + status +
                                      "). Retrying with standard encoder...");
        // The standard encoder of the codec chosen at creation, not the HEVC of attempt 2.
        EXPECT_TRUE(h264.isReady());
        EXPECT_EQ(h264.encoderName(), "libx264");
        EXPECT_FALSE(h264.isHEVC());
    }
    {
        test::LogCapture hevcLog;
        CorvaneEncoder hevc(settings(320, 240, 30, true), sink, failing);
        ASSERT_EQ(hevcLog.lines().size(), 1u);
        EXPECT_NE(hevcLog.lines()[0].find("Dedicated hardware encoder unavailable"), std::string::npos);
        EXPECT_EQ(hevc.encoderName(), "libx265");
        EXPECT_TRUE(hevc.isHEVC());
        EXPECT_EQ(hevc.format()->codec, VideoCodec::HEVC);
    }
    {
        test::LogCapture deadLog;
        EncoderCandidates none = failing;
        none.h264Software = "no_such_software";
        CorvaneEncoder dead(settings(320, 240), sink, none);
        EXPECT_FALSE(dead.isReady());
        EXPECT_EQ(deadLog.lines().back(),
                  "[Corvane] Error VTCompressionSessionCreate: " + std::to_string(AVERROR_ENCODER_NOT_FOUND));
        test::MovingPattern pattern(320, 240);
        dead.encode(pattern.frame(0, micros(0)));
        dead.finish();
    }
}

TEST(EncoderSetup, LargeFramesSwitchToHevcWithTheMessage) {
    EncoderCandidates none;
    none.h264Hardware = {"no_such_h264_encoder"};
    none.hevcHardware = {"no_such_hevc_encoder"};
    none.h264Software = none.hevcSoftware = "no_such_software";
    auto sink = std::make_shared<CollectingSink>();
    struct Case { int w, h; bool hevc; };
    for (const Case c : {Case{3840, 2160, false}, Case{5120, 2880, true}, Case{4096, 2305, true},
                         Case{4096, 2304, false}}) {
        test::LogCapture log;
        CorvaneEncoder encoder(settings(c.w, c.h), sink, none);
        const bool announced = log.contains("[Corvane] Resolution " + std::to_string(c.w) + "x" +
                                            std::to_string(c.h) +
                                            " exceeds H.264 hardware limit (4096x2304). Automatically "
                                            "using HEVC hardware encoder.");
        EXPECT_EQ(announced, c.hevc) << c.w << "x" << c.h;
        EXPECT_EQ(log.contains("H.264 hardware encoder setup failed"), !c.hevc);
        EXPECT_EQ(encoder.isHEVC(), c.hevc);
    }
}

TEST(EncoderSetup, HardwareEncodersFailCleanlyAndTheBannerNamesWhatIsUsed) {
    auto sink = std::make_shared<CollectingSink>();
    CorvaneEncoder encoder(settings(320, 240), sink);  // the real candidate list
    ASSERT_TRUE(encoder.isReady());
    const std::string banner = describeHardwareAcceleration(false);
    if (encoder.encoderName() == "libx264") {
        EXPECT_EQ(banner, "none (libx264 software)");
    } else {
        EXPECT_NE(banner.find("(" + encoder.encoderName() + ")"), std::string::npos) << banner;
    }
    test::MovingPattern pattern(320, 240);
    encoder.encode(pattern.frame(0, micros(0)));
    encoder.finish();
    ASSERT_EQ(sink->packets.size(), 1u);
    EXPECT_TRUE(sink->packets[0]->isKeyframe);
}

TEST(EncoderRateControl, SixtyFourBitArithmeticClampedWhereLibavcodecTakesAnInt) {
    const RateControl normal = rateControlFor(8000);
    EXPECT_EQ(normal.averageBitsPerSecond, 8'000'000);
    EXPECT_EQ(normal.maxBitsPerSecond, 12'000'000);
    EXPECT_EQ(normal.bufferBits, 12'000'000);  // 1.5x over one second = 1,500,000 bytes
    const RateControl huge = rateControlFor(4'000'000);
    EXPECT_EQ(huge.averageBitsPerSecond, 4'000'000'000);
    EXPECT_EQ(huge.bufferBits, INT32_MAX);
    EXPECT_STREQ(softwarePresetFor(1920, 1080, 30), "ultrafast");
    EXPECT_STREQ(softwarePresetFor(1280, 720, 30), "veryfast");
}

}  // namespace
}  // namespace corvane
