// The capture's control logic in virtual time: start/stop, fallback, watchdog, restart attempts,
// resize debounce and live settings, with a scripted back end and encoder.
#include "core/capture/CorvaneCapture.h"

#include <gtest/gtest.h>

#include <future>

#include "core/capture/CaptureFakes.h"
#include "core/sched/ManualScheduler.h"
#include "core/replay/ReplayTestSupport.h"

namespace corvane {
namespace {

using namespace std::chrono_literals;
using testing::FakeScreen;

class CaptureTest : public ::testing::Test {
protected:
    void make(bool withAudio = true) {
        capture = std::make_unique<CorvaneCapture>(
            settings, ring, CorvaneCapture::Dependencies{screen, withAudio ? &audio : nullptr, encoders, sched, &sched});
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
    void frame(std::optional<WindowContent> content = std::nullopt) {
        RawVideoFrame f;
        f.width = f.height = 2;
        screen.last().video.onFrame(f, content);
        sched.runDue();
    }
    // The buffer reports counts only while it holds video, so audio checks go with one frame.
    void seedVideo() { ring->appendVideo(test::videoPacket(1, true), true); }
    static AudioBlock someAudio() { return test::audioBlock(1); }

    test::LogCapture log;
    ManualScheduler sched;
    FakeScreen screen;
    testing::FakeAudio audio;
    testing::FakeEncoderFactory encoders;
    std::shared_ptr<CorvaneRingBuffer> ring = std::make_shared<CorvaneRingBuffer>(130.0, sched);
    CaptureSettings settings{.fps = 30, .recordAudio = false};
    std::vector<bool> states;
    std::unique_ptr<CorvaneCapture> capture;  // last: goes first
};

// ---- Rules --------------------------------------------------------------------------------

TEST(CaptureRules, DynamicBitrateFollowsThePixelRateCurveAndConfigSaturates) {
    struct Case { int32_t w, h, fps, kbps; };
    for (Case c : {Case{1920, 1080, 60, 12000}, Case{1920, 1080, 30, 7500}, Case{1280, 720, 30, 4000},
                   Case{2560, 1440, 60, 18000}, Case{3840, 2160, 30, 20000}, Case{3840, 2160, 60, 32500},
                   Case{5120, 2880, 60, 49500}, Case{640, 360, 15, 2500}, Case{0, 0, 0, 2500},
                   Case{16000, 16000, 240, 50000}}) {
        EXPECT_EQ(calculateDynamicBitrate(c.w, c.h, c.fps), c.kbps) << c.w << "x" << c.h << "@" << c.fps;
    }
    AppConfig config;
    config.codec = "HEVC";  // only "hevc" exactly selects HEVC
    config.fps = int64_t(1) << 40;
    config.resolution = "1080p";
    CaptureSettings s = CaptureSettings::fromConfig(config);
    EXPECT_EQ(s.targetWidth, 1920);
    EXPECT_EQ(s.codec, 0);
    EXPECT_EQ(s.fps, INT32_MAX);
    EXPECT_EQ(effectiveFps(s.fps), 240);
    EXPECT_EQ(effectiveFps(0), 1);
    config.codec = "hevc";
    EXPECT_EQ(CaptureSettings::fromConfig(config).codec, 1);
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

TEST(CaptureRules, ResizeThresholds) {
    WindowResizeDetector d;
    EXPECT_FALSE(d.report(800, 600, 2.0));  // baseline
    EXPECT_FALSE(d.report(803, 600, 2.0));
    EXPECT_TRUE(d.report(804, 600, 2.0));
    EXPECT_FALSE(d.report(804, 600, 1.96));
    EXPECT_TRUE(d.report(804, 600, 1.95));
    EXPECT_FALSE(d.report(804, 597, std::nullopt));  // no scale: size only
    EXPECT_TRUE(d.report(804, 596, std::nullopt));
    EXPECT_FALSE(d.report(804, 596, 1.97));  // the recorded scale (1.95) was kept
}

// ---- Start and stop -----------------------------------------------------------------------

TEST_F(CaptureTest, StartBuildsEncoderAndEmptiesBufferStopKeepsIt) {
    make();
    stopNow();  // no stream yet: silent
    EXPECT_TRUE(log.lines().empty());
    seedVideo();
    ring->appendAudio(someAudio());
    EXPECT_FALSE(startNow());
    EXPECT_EQ(ring->getStatus().audioCount, 0u);
    ASSERT_EQ(encoders.made.size(), 1u);
    EXPECT_EQ(log.count("[Corvane] X11 capture stream started on display [7] (1920x1080 @ 30fps)"), 1);
    frame();
    EXPECT_EQ(encoders.made[0]->encoded.load(), 1);
    EXPECT_FALSE(startNow());  // a second start while running: nothing at all
    EXPECT_EQ(screen.opened.size(), 1u);
    sched.advanceBy(2500ms);
    EXPECT_DOUBLE_EQ(capture->recordingDuration(), 2.5);

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
    EXPECT_EQ(capture->recordingDuration(), 0.0);
    frame();  // late frame of the stopped stream
    EXPECT_EQ(encoders.made[0]->encoded.load(), 1);
}

TEST_F(CaptureTest, StartFailuresCarryTheirErrors) {
    screen.available = false;
    make();
    auto denied = startNow();
    ASSERT_TRUE(denied);
    EXPECT_EQ(denied->domain + " " + std::to_string(denied->code) + " " + denied->message,
              "Corvane 1 Screen capture is not available (cannot open the X display).");
    EXPECT_EQ(screen.accessRequests, 1);
    screen.available = true;
    screen.content.displays.clear();
    auto none = startNow();
    ASSERT_TRUE(none);
    EXPECT_EQ(std::to_string(none->code) + " " + none->message, "2 No display detected.");
    screen.content = FakeScreen().content;
    screen.openFailures.push_back({"X11", 4, "Display 7 is not connected"});
    auto refused = startNow();
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->message, "Display 7 is not connected");
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
    audio.streams[0]->audio.onAudio(someAudio());
    EXPECT_EQ(ring->getStatus().audioCount, 1u);
    stopNow();
    EXPECT_EQ(audio.streams[0]->stopCalls, 1);
    audio.streams[0]->audio.onAudio(someAudio());  // after stop: ignored
    EXPECT_EQ(ring->getStatus().audioCount, 1u);

    CorvaneCapture noBackend(settings, ring, {screen, nullptr, encoders, sched, &sched});
    noBackend.start();
    sched.runDue();
    EXPECT_TRUE(noBackend.isRunning());
}

// ---- Overlap and stale events -----------------------------------------------------------------

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

TEST_F(CaptureTest, ReadErrorInterruptsAndRecoversAfterHalfASecond) {
    make();
    ASSERT_FALSE(startNow());
    seedVideo();
    screen.last().video.onStopped("The captured window was closed");
    sched.runDue();
    EXPECT_EQ(log.count("[Corvane] Stream interrupted: The captured window was closed"), 1);
    EXPECT_EQ(log.count("[Corvane] Restarting capture stream..."), 1);
    EXPECT_EQ(ring->getStatus().videoCount, 0u);
    sched.advanceBy(499ms);
    EXPECT_EQ(screen.opened.size(), 1u);
    sched.advanceBy(1ms);
    EXPECT_EQ(screen.opened.size(), 2u);
    EXPECT_EQ(log.count("[Corvane] Capture stream successfully recovered."), 1);
    EXPECT_EQ(states, (std::vector<bool>{true, false, false, true}));
    EXPECT_EQ(encoders.made[0]->finished.load(), 1);
}

// ---- Restart and watchdog -------------------------------------------------------------------

TEST_F(CaptureTest, FiveAttemptsThenQuietUntilTheWatchdogAndAStopEndsARecovery) {
    make();
    ASSERT_FALSE(startNow());
    screen.failForever = true;
    capture->restart();
    sched.runDue();
    auto begun = sched.now();
    sched.advanceBy(7999ms);
    EXPECT_TRUE(capture->isRestarting());
    for (int n = 1; n <= 5; ++n)
        EXPECT_EQ(log.count("[Corvane] Recovery attempt " + std::to_string(n) + " failed: grab refused. Retrying in 1.5s..."), 1);
    capture->checkHealth(false);  // silent while restarting
    sched.advanceBy(1ms);
    EXPECT_EQ(sched.now() - begun, 8000ms);
    EXPECT_FALSE(capture->isRestarting());
    EXPECT_EQ(log.count("Recovery attempt 6"), 0);

    capture->checkHealth(true);  // asleep: nothing
    screen.available = false;
    CorvaneCapture fresh(settings, ring, {screen, nullptr, encoders, sched, &sched});
    fresh.checkHealth(false);  // no access: nothing, not even a message
    sched.runDue();
    EXPECT_EQ(log.count("Watchdog"), 0);

    screen.failForever = false;
    capture->checkHealth(false);  // permission was seen before: remembered
    EXPECT_EQ(log.count("[Corvane] Watchdog: Stream is idle. Triggering auto-recovery..."), 1);
    sched.advanceBy(500ms);
    EXPECT_TRUE(capture->isRunning());
    capture->checkHealth(false);
    EXPECT_EQ(log.count("Watchdog"), 1);

    // A deliberate stop (sleep, quit) ends a recovery for good.
    screen.failForever = true;
    capture->restart();
    sched.advanceBy(600ms);
    EXPECT_EQ(log.count("Recovery attempt 1 failed"), 2);
    stopNow();
    EXPECT_FALSE(capture->isRestarting());
    screen.failForever = false;
    sched.advanceBy(10s);
    EXPECT_EQ(log.count("Recovery attempt 2"), 1);
    EXPECT_FALSE(capture->isRunning());
}

TEST_F(CaptureTest, RestartDuringRestartRunsOnceMore) {
    make();
    ASSERT_FALSE(startNow());
    // While the restart's start is on its way, new settings arrive and another restart is asked.
    screen.onOpenHook = [this] {
        screen.onOpenHook = nullptr;
        capture->updateConfig(60, 0, 0, 0, 0, false, 0, 0, 1.0f);
        capture->restart();
    };
    capture->restart();
    sched.advanceBy(1s);
    EXPECT_EQ(log.count("[Corvane] Restarting capture stream..."), 2);
    ASSERT_EQ(screen.opened.size(), 3u);
    EXPECT_EQ(screen.opened[1].fps, 30);
    EXPECT_EQ(screen.opened[2].fps, 60);
    EXPECT_FALSE(capture->isRestarting());
    // Only the newest stream is live.
    EXPECT_EQ(screen.streams[1]->stopCalls, 1);
    EXPECT_EQ(screen.streams[2]->stopCalls, 0);

    // A restart asked during the pause ends the pending one early and runs one fresh restart.
    capture->restart();
    sched.advanceBy(200ms);
    capture->restart();
    sched.advanceBy(499ms);
    EXPECT_EQ(screen.opened.size(), 3u);
    sched.advanceBy(1ms);
    EXPECT_EQ(screen.opened.size(), 4u);
    EXPECT_EQ(log.count("Restarting capture stream"), 4);
}

// ---- Resize and settings ----------------------------------------------------------------------

TEST_F(CaptureTest, ResizeBurstGivesOneRestartAtTheNewSize) {
    settings.windowId = 42;
    screen.content.windows.push_back({42, "Doc", "Editor", 10, 10, 800, 600, 1.0});
    make();
    ASSERT_FALSE(startNow());
    frame(WindowContent{800, 600, std::nullopt});
    frame(WindowContent{803, 600, std::nullopt});
    for (int i = 1; i <= 10; ++i) {
        sched.advanceBy(100ms);
        frame(WindowContent{800.0 + 10 * i, 600, std::nullopt});
    }
    screen.content.windows[0].width = 900;
    sched.advanceBy(499ms);
    EXPECT_EQ(log.count("Window resize"), 0);
    sched.advanceBy(1ms);
    EXPECT_EQ(log.count("[Corvane] Window resize detected (900x600). Adjusting capture stream..."), 1);
    sched.advanceBy(2s);
    EXPECT_EQ(log.count("Restarting capture stream"), 1);
    ASSERT_EQ(screen.opened.size(), 2u);
    EXPECT_EQ(screen.opened[1].width, 900);

    // A change seen just before a stop is dropped with the stream.
    frame(WindowContent{900, 600, std::nullopt});
    frame(WindowContent{950, 600, std::nullopt});
    capture->stop();
    sched.advanceBy(2s);
    EXPECT_EQ(log.count("Window resize"), 1);
}

TEST_F(CaptureTest, UpdateConfigRestartsOnlyOnRealChange) {
    settings.bitrateKbps = 7500;
    make();
    ASSERT_FALSE(startNow());
    // Derived bit rate from the running size: identical settings, no restart.
    EXPECT_FALSE(capture->updateConfig(30, 0, 0, 0, 0, false, 0, 0, 1.0f));
    EXPECT_FALSE(capture->updateConfig(30, 7500, 0, 0, 0, false, 0, 0, 1.0f));
    sched.advanceBy(3s);
    EXPECT_EQ(log.count("Restarting"), 0);
    EXPECT_TRUE(capture->updateConfig(30, 7500, 0, 0, 0, false, 0, 0, 0.5f));
    sched.advanceBy(1s);
    EXPECT_EQ(log.count("Restarting"), 1);

    stopNow();
    EXPECT_FALSE(capture->updateConfig(24, 0, 1, 1280, 720, false, 0, 0, 1.0f));
    EXPECT_EQ(capture->currentBitrateKbps(), calculateDynamicBitrate(1280, 720, 24));
    ASSERT_FALSE(startNow());  // the stored values apply at the next start
    EXPECT_EQ(screen.opened.back().width, 1280);
    EXPECT_TRUE(encoders.made.back()->settings.hevc);
}

TEST_F(CaptureTest, OwnControlLaneStopsWithinTimeout) {
    capture = std::make_unique<CorvaneCapture>(
        settings, ring, CorvaneCapture::Dependencies{screen, nullptr, encoders, sched, nullptr});
    std::promise<std::optional<CaptureError>> started;
    capture->start([&](const std::optional<CaptureError>& e) { started.set_value(e); });
    auto result = started.get_future();
    ASSERT_EQ(result.wait_for(5s), std::future_status::ready);
    EXPECT_FALSE(result.get());
    EXPECT_TRUE(capture->stopAndWait(2s));
    EXPECT_FALSE(capture->isRunning());
    EXPECT_EQ(log.count("Capture stopped"), 1);
}

}  // namespace
}  // namespace corvane
