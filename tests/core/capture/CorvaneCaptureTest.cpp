// The capture's control logic in virtual time: start/stop, fallback, stream ends, the watchdog's
// access check and live settings, with a scripted back end and encoder. The restart, watchdog and
// resize rules themselves are tested in CaptureRecoveryTest.
#include "core/capture/CorvaneCapture.h"

#include <gtest/gtest.h>

#include "core/sched/ManualScheduler.h"
#include "core/replay/ReplayTestSupport.h"
#include "support/CaptureFakes.h"

namespace corvane {
namespace {

using namespace std::chrono_literals;
using test::FakeScreen;

class CaptureTest : public ::testing::Test {
protected:
    void make() {
        capture = std::make_unique<CorvaneCapture>(
            settings, ring, CorvaneCapture::Dependencies{screen, &audio, encoders, sched, &sched, &audioEncoders});
        capture->setOnStateChanged([this](bool running) { states.push_back(running); });
    }
    std::optional<CaptureError> startNow() {
        std::optional<std::optional<CaptureError>> result;
        capture->start([&](const std::optional<CaptureError>& e) { result = e; });
        sched.runDue();
        EXPECT_TRUE(result.has_value()) << "start did not complete";
        return result.value_or(std::nullopt);
    }
    void stopNow() {
        capture->stop();
        sched.runDue();
    }
    void frame() {
        RawVideoFrame f;
        f.width = f.height = 2;
        screen.last().video.onFrame(f, std::nullopt);
        sched.runDue();
    }
    // The buffer reports counts only while it holds video, so audio checks go with one frame.
    void seedVideo() { ring->appendVideo(test::videoPacket(1, true), true); }
    static AudioPacketRef someAudio() { return test::audioPacketAt(1, test::audioRun()); }

    test::LogCapture log;
    ManualScheduler sched;
    FakeScreen screen;
    test::FakeAudio audio;
    test::FakeEncoderFactory encoders;
    test::FakeAudioEncoderFactory audioEncoders;
    std::shared_ptr<CorvaneRingBuffer> ring = std::make_shared<CorvaneRingBuffer>(130.0, sched);
    CaptureSettings settings{.fps = 30, .recordAudio = false};
    std::vector<bool> states;
    std::unique_ptr<CorvaneCapture> capture;  // last: goes first
};

TEST(CaptureRules, EncoderBitrateIsTheConfiguredOneOrFollowsThePixelRateCurve) {
    struct Case { int32_t configured, w, h, fps, kbps; };
    for (Case c : {Case{8000, 1920, 1080, 30, 8000}, Case{0, 1920, 1080, 60, 12000}, Case{0, 1920, 1080, 30, 7500},
                   Case{-5, 1280, 720, 30, 4000}, Case{0, 2560, 1440, 60, 18000}, Case{0, 3840, 2160, 30, 20000},
                   Case{0, 3840, 2160, 60, 32500}, Case{0, 5120, 2880, 60, 49500}, Case{0, 640, 360, 15, 2500},
                   Case{0, 0, 0, 60, 12000},  // size unknown: 1080p
                   Case{0, 16000, 16000, 100000, 50000}, Case{0, 1920, 1080, 0, 4500}}) {
        CaptureSettings s;
        s.bitrateKbps = c.configured;
        s.fps = c.fps;
        EXPECT_EQ(encoderBitrateKbps(s, c.w, c.h), c.kbps) << c.configured << " " << c.w << "@" << c.fps;
    }
    EXPECT_EQ(effectiveFps(INT32_MAX), 240);
    EXPECT_EQ(videoCodecFromConfigText("HEVC"), VideoCodec::HEVC);
    EXPECT_EQ(videoCodecFromConfigText("hevc1"), VideoCodec::H264);
}

TEST(CaptureRules, CaptureTargetSizes) {
    ShareableContent content;
    content.displays = {{5, "screen", 0, 0, 3024, 1964, true}, {6, "DP-1", 3024, 0, 1281, 721, false}};
    content.windows = {{42, "Notes", "Editor", 10, 10, 30, 30, 1.0}, {43, "Big", "Viewer", 0, 0, 1001, 601, 1.0}};
    struct Case { CaptureSettings s; uint32_t display; int32_t w, h; bool missing; };
    const Case cases[] = {
        {{}, 5, 3024, 1964, false},                                                 // native main display
        {{.displayId = 6}, 6, 1280, 720, false},                                    // odd size rounds down to even
        {{.targetWidth = 1281, .targetHeight = 721, .displayId = 99}, 5, 1280, 720, false},  // gone: main, silently
        {{.targetWidth = 1281, .targetHeight = 721, .windowId = 42}, 5, 64, 64, false},  // no preset; below 64 is 64
        {{.windowId = 43, .windowScale = 0.5f}, 5, 500, 300, false},                // 500.5 x 300.5 truncated, even
        {{.targetWidth = 1281, .targetHeight = 721, .windowId = 44}, 5, 1280, 720, true},  // gone: display at preset
    };
    for (const Case& c : cases) {
        auto target = chooseCaptureTarget(content, c.s);
        ASSERT_TRUE(target);
        EXPECT_EQ(std::vector<int64_t>({target->display.id, target->width, target->height}),
                  std::vector<int64_t>({c.display, c.w, c.h})) << c.s.displayId << "/" << c.s.windowId;
        EXPECT_EQ(target->windowMissing, c.missing);
        EXPECT_EQ(bool(target->window), c.s.windowId != 0 && !c.missing);
    }
    EXPECT_FALSE(chooseCaptureTarget(ShareableContent{}, CaptureSettings{}));
}

TEST_F(CaptureTest, StartBuildsEncoderAndStopKeepsTheBuffer) {
    make();
    stopNow();  // no stream yet: silent
    EXPECT_TRUE(log.lines().empty());
    EXPECT_FALSE(startNow());
    ASSERT_EQ(encoders.made.size(), 1u);
    EXPECT_EQ(log.count("[Corvane] X11 capture stream started on display [7] (1920x1080 @ 30fps)"), 1);
    frame();
    EXPECT_EQ(encoders.made[0]->encoded.load(), 1);
    EXPECT_FALSE(startNow());  // a second start while running: completes, and nothing else
    EXPECT_EQ(screen.opened.size(), 1u);
    sched.advanceBy(2500ms);
    ASSERT_TRUE(capture->recordingStartTime());
    EXPECT_EQ(sched.now() - *capture->recordingStartTime(), 2500ms);

    seedVideo();
    ring->appendAudio(someAudio());
    bool stopped = false;
    capture->stop([&] { stopped = true; });
    sched.runDue();
    EXPECT_TRUE(stopped);
    EXPECT_EQ(encoders.made[0]->finished.load(), 1);
    EXPECT_EQ(screen.last().stopCalls, 1);
    EXPECT_EQ(log.count("[Corvane] Capture stopped"), 1);
    EXPECT_EQ(states, (std::vector<bool>{true, false}));
    EXPECT_EQ(ring->getStatus().audioCount, 1u);  // stop keeps the buffer for saving
    EXPECT_FALSE(capture->recordingStartTime());
    frame();  // late frame of the stopped stream
    EXPECT_EQ(encoders.made[0]->encoded.load(), 1);
}

TEST_F(CaptureTest, StartFailuresCarryTheirErrors) {
    const auto failure = [this] {
        const std::optional<CaptureError> e = startNow();
        return e ? e->domain + " " + std::to_string(e->code) + " " + e->message : "started";
    };
    screen.available = false;
    make();
    EXPECT_EQ(failure(), "Corvane 1 Screen capture is not available (cannot open the X display).");
    EXPECT_EQ(screen.accessRequests, 1);
    screen.available = true;
    screen.content.displays.clear();
    EXPECT_EQ(failure(), "Corvane 2 No display detected.");
    screen.content = FakeScreen().content;
    screen.openFailures.push_back({"X11", 4, "Display 7 is not connected"});
    EXPECT_EQ(failure(), "X11 4 Display 7 is not connected");
    EXPECT_FALSE(capture->isRunning());
    EXPECT_TRUE(states.empty());
}

TEST_F(CaptureTest, MissingWindowFallsBackToDisplayAndIsUsedAgainOnceBack) {
    settings.windowId = 4242;
    settings.displayId = 9;
    make();
    EXPECT_FALSE(startNow());
    EXPECT_EQ(log.count("[Corvane] Configured window 4242 no longer found. Falling back to display capture."), 1);
    EXPECT_EQ(screen.opened[0].windowId, 0u);
    EXPECT_EQ(screen.opened[0].displayId, 9u);
    EXPECT_EQ(capture->settings().windowId, 4242u);  // the setting is kept
    screen.content.windows.push_back({4242, "Doc", "Editor", 5, 5, 641, 480, 1.0});
    stopNow();
    EXPECT_FALSE(startNow());
    EXPECT_EQ(screen.opened[1].windowId, 4242u);
    EXPECT_EQ(log.count("[Corvane] X11 capture stream started on window [4242] Editor (640x480 @ 30fps)"), 1);
}

TEST_F(CaptureTest, AudioIsOptional) {
    settings.recordAudio = true;
    audio.fail = true;
    make();
    EXPECT_FALSE(startNow());
    EXPECT_TRUE(capture->isRunning());
    EXPECT_EQ(log.count("[Corvane] System audio unavailable (Connection refused); recording video only."), 1);
    stopNow();
    audio.fail = false;
    EXPECT_FALSE(startNow());
    ASSERT_EQ(audio.streams.size(), 1u);
    seedVideo();
    audio.streams[0]->audio.onAudio(test::audioBlock(1));
    audio.streams[0]->audio.onAudio(test::audioBlock(1.02));
    EXPECT_EQ(ring->getStatus().audioCount, 1u) << "compressed as it arrives: the priming packet";
    stopNow();
    EXPECT_EQ(audio.streams[0]->stopCalls, 1);
    EXPECT_EQ(ring->getStatus().audioCount, 3u) << "the stop flushes the encoder into the buffer";
    audio.streams[0]->audio.onAudio(test::audioBlock(1.04));  // after stop: ignored
    EXPECT_EQ(ring->getStatus().audioCount, 3u);

    CorvaneCapture noBackend(settings, ring, {screen, nullptr, encoders, sched, &sched});
    noBackend.start();
    sched.runDue();
    EXPECT_TRUE(noBackend.isRunning());
}

TEST_F(CaptureTest, LostSystemAudioReconnectsWithBackoffWhileVideoRuns) {
    settings.recordAudio = true;
    make();
    std::vector<bool> notices;
    capture->setOnSystemAudioNotice([&](bool lost) { notices.push_back(lost); });
    ASSERT_FALSE(startNow());
    seedVideo();
    audio.streams[0]->audio.onAudio(test::audioBlock(1));
    audio.fail = true;  // the audio server is gone
    audio.streams[0]->audio.onStopped("Connection terminated");
    sched.runDue();
    EXPECT_TRUE(capture->isSystemAudioLost());
    EXPECT_EQ(ring->getStatus().audioCount, 2u) << "what was captured is flushed into the buffer";
    sched.advanceBy(6s);  // attempts at 1 s and 3 s fail; the loss is announced at 5 s
    EXPECT_EQ(notices, std::vector<bool>{true});
    audio.fail = false;
    sched.advanceBy(1s);  // the third attempt, at 7 s
    ASSERT_EQ(audio.streams.size(), 2u);
    EXPECT_FALSE(capture->isSystemAudioLost());
    EXPECT_EQ(notices, (std::vector<bool>{true, false}));
    EXPECT_EQ(screen.opened.size(), 1u) << "video never restarted";
    EXPECT_EQ(encoders.made[0]->finished.load(), 0);
    audio.streams[1]->audio.onAudio(test::audioBlock(8));
    sched.runDue();
    ASSERT_EQ(audioEncoders.runs.size(), 2u) << "a new audio run in the same buffer";
    const size_t fed = audioEncoders.runs[1]->fed.size();
    EXPECT_GT(fed, 0u);
    audio.streams[0]->audio.onAudio(test::audioBlock(8.5));  // the dead stream: ignored
    sched.runDue();
    EXPECT_EQ(audioEncoders.runs[1]->fed.size(), fed);

    // A stream that stays open but goes silent (the audio server never linked it) is lost too,
    // once the watchdog has seen five seconds without a block.
    capture->checkHealth(false);
    sched.advanceBy(3s);
    capture->checkHealth(false);
    sched.runDue();
    EXPECT_EQ(log.count("System audio stopped"), 1) << "3 s of silence is not yet a loss";
    sched.advanceBy(3s);
    capture->checkHealth(false);
    capture->checkHealth(false);
    sched.runDue();
    EXPECT_EQ(log.count("System audio stopped (no sound from the audio server for 5 s)"), 1);
    sched.advanceBy(1s);
    ASSERT_EQ(audio.streams.size(), 3u) << "reopened by the first attempt";

    // A stop ends the attempts of a new loss.
    audio.streams[2]->audio.onStopped("Connection terminated");
    sched.runDue();
    stopNow();
    sched.advanceBy(120s);
    EXPECT_EQ(audio.streams.size(), 3u);
}

TEST_F(CaptureTest, StartsNeverOverlapAndADeliberateStopIsNotAnInterruption) {
    make();
    capture->start();
    capture->start();
    capture->checkHealth(false);  // a start is queued: the watchdog must not add a restart
    sched.runDue();
    EXPECT_EQ(screen.opened.size(), 1u);
    auto first = screen.streams.back();
    stopNow();
    first->video.onStopped("Bad file descriptor");  // the closed input failing its read
    sched.advanceBy(10s);
    ASSERT_FALSE(startNow());
    first->video.onStopped("late news from an old stream");
    sched.advanceBy(10s);
    EXPECT_EQ(log.count("Stream interrupted"), 0);
    EXPECT_EQ(log.count("Watchdog"), 0);
    EXPECT_EQ(log.count("Restarting"), 0);
    EXPECT_TRUE(capture->isRunning());
}

TEST_F(CaptureTest, TheWatchdogAsksForTheScreenOnTheLaneAndRemembersAYes) {
    ManualScheduler lane;
    screen.available = false;
    capture = std::make_unique<CorvaneCapture>(
        settings, ring, CorvaneCapture::Dependencies{screen, nullptr, encoders, sched, &lane});
    EXPECT_TRUE(capture->hasPermission()) << "not known yet";
    capture->checkHealth(false);
    sched.runDue();
    EXPECT_EQ(screen.availabilityChecks.load(), 0) << "no display round trip on the main thread";
    lane.runDue();
    sched.runDue();
    EXPECT_EQ(screen.availabilityChecks.load(), 1);
    EXPECT_FALSE(capture->hasPermission());
    EXPECT_EQ(log.count("Watchdog"), 0) << "no access: not even a message";

    screen.available = true;
    capture->checkHealth(false);
    lane.runDue();
    sched.runDue();
    EXPECT_EQ(log.count("[Corvane] Watchdog: Stream is idle. Triggering auto-recovery..."), 1);
    for (int i = 0; i < 3; ++i) {
        sched.advanceBy(500ms);
        lane.runDue();
    }
    EXPECT_TRUE(capture->isRunning());
    EXPECT_TRUE(capture->hasPermission());
    const int checks = screen.availabilityChecks.load();
    stopNow();
    lane.runDue();
    capture->checkHealth(false);  // a yes is remembered: answered at once
    EXPECT_EQ(screen.availabilityChecks.load(), checks);
    EXPECT_EQ(log.count("Watchdog"), 2);
    capture.reset();  // before the lane it was given
}

TEST_F(CaptureTest, ADeclinedDialogStopsRestartsUntilAStartIsAskedFor) {
    make();
    ASSERT_FALSE(startNow());
    int opens = 0;
    screen.onOpenHook = [&] {
        ++opens;
        screen.available = false;  // the user said no in the system's dialog
    };
    screen.failForever = true;
    screen.last().video.onStopped("The screen-sharing session was closed");
    sched.advanceBy(10s);
    EXPECT_EQ(opens, 1) << "the restart's later attempts do not ask again";
    EXPECT_FALSE(capture->hasPermission());
    for (int tick = 0; tick < 5; ++tick) {
        capture->checkHealth(false);
        sched.advanceBy(10s);
    }
    EXPECT_EQ(log.count("Watchdog"), 0);
    EXPECT_EQ(opens, 1);
    EXPECT_EQ(screen.accessRequests, 0) << "only a start someone asked for may bring the dialog back";

    ASSERT_TRUE(startNow());
    EXPECT_EQ(screen.accessRequests, 1);
    screen.available = true;  // what asking for access does to the dialog back end
    screen.failForever = false;
    capture->checkHealth(false);
    sched.advanceBy(10s);
    EXPECT_EQ(log.count("[Corvane] Watchdog: Stream is idle. Triggering auto-recovery..."), 1);
    EXPECT_TRUE(capture->isRunning());
}

TEST_F(CaptureTest, UpdateConfigRestartsOnlyOnRealChange) {
    settings.bitrateKbps = 7500;
    make();
    ASSERT_FALSE(startNow());
    // Derived bit rate from the running size: identical settings, no restart.
    CaptureSettings derived = settings;
    derived.bitrateKbps = 0;
    capture->updateConfig(derived);
    capture->updateConfig(settings);
    sched.advanceBy(3s);
    EXPECT_EQ(log.count("Restarting"), 0);
    CaptureSettings scaled = settings;
    scaled.windowScale = 0.5f;
    capture->updateConfig(scaled);
    sched.advanceBy(1s);
    EXPECT_EQ(log.count("Restarting"), 1);

    stopNow();
    const CaptureSettings next{.fps = 24, .bitrateKbps = 0, .codec = VideoCodec::HEVC,
                               .targetWidth = 1280, .targetHeight = 720, .recordAudio = false};
    capture->updateConfig(next);
    sched.advanceBy(3s);
    EXPECT_EQ(log.count("Restarting"), 1) << "a stopped capture keeps the values for its next start";
    EXPECT_EQ(capture->settings().bitrateKbps, calculateDynamicBitrate(1280, 720, 24));
    ASSERT_FALSE(startNow());
    EXPECT_EQ(screen.opened.back().width, 1280);
    EXPECT_EQ(encoders.made.back()->settings.codec, VideoCodec::HEVC);
    EXPECT_EQ(encoders.made.back()->settings.bitrateKbps, calculateDynamicBitrate(1280, 720, 24));
}

// A new picture keeps the older run too: the buffer cuts clips at the change of format.
TEST_F(CaptureTest, RestartsKeepTheBufferAndOnlyAPlainStartEmptiesIt) {
    struct Case {
        const char* what;
        std::function<void()> act;
        bool kept;
    };
    auto reconfigure = [this](std::function<void(CaptureSettings&)> change) {
        return [this, change] {
            CaptureSettings next = capture->settings();
            change(next);
            capture->updateConfig(next);
        };
    };
    const Case cases[] = {
        {"stream interrupted", [this] { screen.last().video.onStopped("read error"); }, true},
        {"restart asked for", [this] { capture->restart(); }, true},
        {"bit rate only", reconfigure([](CaptureSettings& s) { s.bitrateKbps = 3000; }), true},
        {"size", reconfigure([](CaptureSettings& s) { s.targetWidth = 1280, s.targetHeight = 720; }), true},
        {"stop and start (sleep)", [this] {
             capture->stop();
             sched.runDue();
             capture->start();
         }, false},
    };
    make();
    for (const Case& c : cases) {
        ASSERT_FALSE(startNow());
        capture->updateConfig(settings);  // back to the first picture
        sched.advanceBy(1s);
        seedVideo();
        const size_t encodersBefore = encoders.made.size();
        c.act();
        sched.advanceBy(1s);
        EXPECT_TRUE(capture->isRunning()) << c.what;
        EXPECT_GT(encoders.made.size(), encodersBefore) << c.what << ": not restarted";
        EXPECT_EQ(ring->getStatus().videoCount, c.kept ? 1u : 0u) << c.what;
        ring->clear();
    }
}

}  // namespace
}  // namespace corvane
