// The engine's timing and life: status ticks and the watchdog, sleep, wake and display changes,
// the recording pair, and quitting.
#include <gtest/gtest.h>

#include "core/engine/EngineHarness.h"

namespace corvane::test {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

class EngineLifecycleTest : public EngineHarness {};

TEST_F(EngineLifecycleTest, ConstructionStartsNothing) {
    build();
    EXPECT_EQ(capture->startCalls, 0);
    EXPECT_TRUE(hotkeys->live.empty());
    EXPECT_EQ(tray->setupCalls, 0);
    EXPECT_EQ(events.startCalls, 1) << "observers are installed at construction";
    EXPECT_EQ(tray->configPath, config.configPath);
}

TEST_F(EngineLifecycleTest, StartBuildsTrayRegistersAndStartsCapture) {
    buildAndStart();
    EXPECT_EQ(capture->startCalls, 1);
    EXPECT_EQ(hotkeys->live.size(), 3u);
    EXPECT_EQ(tray->setupCalls, 1);
    EXPECT_EQ(window.setupMainMenuCalls, 1);
}

TEST_F(EngineLifecycleTest, FailedFirstStartIsLoggedOnce) {
    build();
    capture->startError = "Cannot open display :5";
    engine->start();
    EXPECT_EQ(countLines("[Corvane] Initial capture start notice: Cannot open display :5"), 1);
}

TEST_F(EngineLifecycleTest, RefreshEverySecondWatchdogEveryThird) {
    buildAndStart();
    const int before = tray->updateUICalls;
    scheduler.advanceBy(milliseconds(2999));
    EXPECT_EQ(tray->updateUICalls - before, 2);
    EXPECT_TRUE(capture->healthChecks.empty());
    scheduler.advanceBy(milliseconds(1));
    EXPECT_EQ(capture->healthChecks, std::vector<bool>{false});
    scheduler.advanceBy(seconds(6));
    EXPECT_EQ(capture->healthChecks.size(), 3u);
    EXPECT_EQ(tray->updateUICalls - before, 9);
}

TEST_F(EngineLifecycleTest, SleepEmptiesBufferStopsCaptureAndWakeRestartsAfterOneAndAHalfSeconds) {
    buildAndStart();
    bufferVideo(3);
    events.handlers.onSleep();
    EXPECT_EQ(engine->ringBuffer()->getStatus().videoCount, 0u);
    EXPECT_EQ(capture->stopCalls, 1);
    EXPECT_TRUE(engine->isSystemSleeping());

    scheduler.advanceBy(seconds(3));  // a watchdog tick during sleep is told so
    ASSERT_FALSE(capture->healthChecks.empty());
    EXPECT_TRUE(capture->healthChecks.back());

    bufferVideo(2);  // frames that slipped in before the stop finished
    events.handlers.onWake();
    EXPECT_EQ(engine->ringBuffer()->getStatus().videoCount, 0u);
    EXPECT_FALSE(engine->isSystemSleeping());
    scheduler.advanceBy(milliseconds(1499));
    EXPECT_EQ(capture->restartCalls, 0);
    scheduler.advanceBy(milliseconds(1));
    EXPECT_EQ(capture->restartCalls, 1);
    EXPECT_EQ(countLines("[Corvane] System wake notification received. Restarting capture in 1.5s..."), 1);
}

TEST_F(EngineLifecycleTest, SleepSoonAfterWakeCancelsThePendingRestart) {
    buildAndStart();
    events.handlers.onWake();
    scheduler.advanceBy(milliseconds(500));
    events.handlers.onScreensSleep();
    scheduler.advanceBy(seconds(5));
    EXPECT_EQ(capture->restartCalls, 0) << "capture must stay off while the screens sleep";
}

TEST_F(EngineLifecycleTest, DisplayChangeRestartsAfterOneSecondAndKeepsBuffer) {
    buildAndStart();
    bufferVideo(3);
    events.handlers.onDisplayConfigurationChanged();
    scheduler.advanceBy(milliseconds(400));
    events.handlers.onDisplayConfigurationChanged();  // a second event of the same change
    scheduler.advanceBy(milliseconds(999));
    EXPECT_EQ(capture->restartCalls, 0);
    scheduler.advanceBy(milliseconds(1));
    EXPECT_EQ(capture->restartCalls, 1);
    EXPECT_GT(engine->ringBuffer()->getStatus().videoCount, 0u);
}

TEST_F(EngineLifecycleTest, DisplayChangeWhileAsleepLeavesTheRestartToTheWake) {
    buildAndStart();
    events.handlers.onScreensSleep();
    events.handlers.onDisplayConfigurationChanged();
    scheduler.advanceBy(seconds(2));
    EXPECT_EQ(capture->restartCalls, 0);
}

TEST_F(EngineLifecycleTest, SuspendWaitsForCaptureStopAndRunningSave) {
    buildAndStart();
    capture->finishStopsAtOnce = false;
    engine->requestClip(30);  // queued on the save lane, not finished
    events.handlers.onSleep();
    scheduler.runDue();
    EXPECT_EQ(events.preparationDoneCalls, 0);
    capture->finishPendingStops();
    scheduler.runDue();
    EXPECT_EQ(events.preparationDoneCalls, 0) << "the save is still running";
    lane.runAll();
    scheduler.runDue();
    EXPECT_EQ(events.preparationDoneCalls, 1);
}

TEST_F(EngineLifecycleTest, StatusAndRecordingPairReadCaptureAndBuffer) {
    buildAndStart();
    bufferVideo(4);
    capture->startedAt = scheduler.now();
    scheduler.advanceBy(seconds(65));
    const CorvaneStatus status = engine->getStatus();
    EXPECT_TRUE(status.isRecording);
    EXPECT_NEAR(status.bufferDurationSeconds, 3.9, 1e-9);
    EXPECT_EQ(status.videoFramesCount, 40u);
    EXPECT_EQ(status.captureWidth, 1920);
    ASSERT_TRUE(window.recordingStatus);
    const RecordingPair pair = window.recordingStatus();
    EXPECT_TRUE(pair.isRecording);
    EXPECT_NEAR(pair.duration, 65.0, 1e-6);

    capture->running = false;
    EXPECT_EQ(window.recordingStatus().duration, 0.0);
}

TEST_F(EngineLifecycleTest, CaptureStateChangeRefreshesTrayAndTitleOnMainThread) {
    buildAndStart();
    const int ui = tray->updateUICalls;
    capture->onStateChanged(true);
    EXPECT_EQ(tray->updateUICalls, ui);
    scheduler.runDue();
    EXPECT_EQ(tray->updateUICalls, ui + 1);
    EXPECT_EQ(window.titleUpdates, 1);
}

TEST_F(EngineLifecycleTest, QuitStopsEverythingBeforeTerminating) {
    buildAndStart();
    capture->hangsOnStop = true;
    tray->callbacks.onQuitRequested();
    ASSERT_EQ(capture->stopAndWaitTimeouts.size(), 1u);
    EXPECT_EQ(capture->stopAndWaitTimeouts[0], seconds(2));
    EXPECT_EQ(terminated, std::vector<size_t>{1}) << "terminated after the bounded stop";
    EXPECT_TRUE(hotkeys->live.empty());
    EXPECT_EQ(events.stopCalls, 1);

    const int ui = tray->updateUICalls;
    scheduler.advanceBy(seconds(5));
    EXPECT_EQ(tray->updateUICalls, ui) << "the status timer is gone";

    engine->stop();  // destruction stops again: nothing left to do
    EXPECT_EQ(capture->stopAndWaitTimeouts.size(), 1u);
}

TEST_F(EngineLifecycleTest, DeferredWorkAfterDestructionDoesNothing) {
    buildAndStart();
    capture->onStateChanged(true);  // queued on the main thread
    events.handlers.onDisplayConfigurationChanged();
    engine.reset();
    // The delayed restart went with the engine; the queued refresh finds it gone (ASan would
    // flag a dangling engine here).
    EXPECT_EQ(scheduler.pendingCount(), 1u);
    EXPECT_EQ(scheduler.advanceBy(seconds(5)), 1);
    EXPECT_EQ(scheduler.pendingCount(), 0u);
}

}  // namespace
}  // namespace corvane::test
