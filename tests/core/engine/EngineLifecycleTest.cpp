#include <gtest/gtest.h>

#include "core/engine/EngineHarness.h"

namespace corvane::test {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

using EngineLifecycleTest = EngineHarness;

TEST_F(EngineLifecycleTest, RefreshEverySecondAndOnCaptureChangesWatchdogEveryThird) {
    buildAndStart();
    bufferVideo(4);
    const int before = tray->updateUICalls;
    scheduler.advanceBy(milliseconds(2999));
    EXPECT_EQ(tray->updateUICalls - before, 2);
    EXPECT_TRUE(capture->healthChecks.empty());
    scheduler.advanceBy(milliseconds(1));
    EXPECT_EQ(capture->healthChecks, std::vector<bool>{false});
    scheduler.advanceBy(seconds(6));
    EXPECT_EQ(capture->healthChecks.size(), 3u);
    EXPECT_EQ(tray->updateUICalls - before, 9);
    EXPECT_TRUE(tray->lastStatus.isRecording);
    EXPECT_NEAR(tray->lastStatus.bufferDurationSeconds, 3.9, 1e-9);
    EXPECT_EQ(tray->lastStatus.videoFramesCount, 40u);

    capture->onStateChanged(false);  // from the capture's own thread: refreshed on the main one
    EXPECT_EQ(tray->updateUICalls - before, 9);
    scheduler.runDue();
    EXPECT_EQ(tray->updateUICalls - before, 10);
    EXPECT_EQ(window.titleUpdates, 1);
}

TEST_F(EngineLifecycleTest, SleepWaitsForCaptureStopAndRunningSaveAndWakeRestartsAfterOneAndAHalfSeconds) {
    buildAndStart();
    bufferVideo(3);
    engine->requestClip(30);  // queued on the save lane, not finished
    events.handlers.onSleep();
    EXPECT_EQ(buffered(), 0u);
    ASSERT_EQ(capture->pendingStops.size(), 1u);
    scheduler.advanceBy(seconds(3));
    EXPECT_EQ(capture->healthChecks, std::vector<bool>{true}) << "the watchdog is told of the sleep";
    EXPECT_EQ(events.preparationDoneCalls, 0);
    capture->pendingStops[0]();
    scheduler.runDue();
    EXPECT_EQ(events.preparationDoneCalls, 0) << "the save is still running";
    lane.runDue();
    scheduler.runDue();
    EXPECT_EQ(events.preparationDoneCalls, 1);

    bufferVideo(2);  // frames that slipped in before the stop finished
    events.handlers.onWake();
    EXPECT_EQ(buffered(), 0u);
    scheduler.advanceBy(milliseconds(1499));
    EXPECT_EQ(capture->restartCalls, 0);
    scheduler.advanceBy(milliseconds(1));
    EXPECT_EQ(capture->restartCalls, 1);
    EXPECT_EQ(log.count("[Corvane] System wake notification received. Restarting capture in 1.5s..."), 1);
}

TEST_F(EngineLifecycleTest, DisplayChangeRestartsOneSecondAfterTheLastEventButNotWhileScreensSleep) {
    buildAndStart();
    bufferVideo(3);
    events.handlers.onDisplayConfigurationChanged();
    scheduler.advanceBy(milliseconds(400));
    events.handlers.onDisplayConfigurationChanged();  // a second event of the same change
    scheduler.advanceBy(milliseconds(999));
    EXPECT_EQ(capture->restartCalls, 0);
    scheduler.advanceBy(milliseconds(1));
    EXPECT_EQ(capture->restartCalls, 1);
    EXPECT_GT(buffered(), 0u) << "the buffer is kept";

    events.handlers.onWake();
    scheduler.advanceBy(milliseconds(500));
    events.handlers.onScreensSleep();  // cancels the pending wake restart
    events.handlers.onDisplayConfigurationChanged();
    scheduler.advanceBy(seconds(5));
    EXPECT_EQ(capture->restartCalls, 1) << "capture must stay off while the screens sleep";
}

TEST_F(EngineLifecycleTest, APlannedRestartIsTheOnlyOneTheWatchdogWaitsForIt) {
    // Each case lands the watchdog's third tick (t = 3 s) inside the restart's delay, where the
    // capture is down on purpose: a watchdog start there would restart it a second time.
    struct Case {
        const char* name;
        milliseconds at;
        std::function<void()> event;
    };
    const Case cases[] = {
        {"a short sleep and wake", milliseconds(1700),
         [this] {
             events.handlers.onSleep();
             capture->pendingStops.back()();
             scheduler.runDue();
             events.handlers.onWake();
         }},
        {"a display change", milliseconds(2500), [this] { events.handlers.onDisplayConfigurationChanged(); }},
    };
    for (const Case& c : cases) {
        engine.reset();
        capture = nullptr;
        scheduler.advanceBy(seconds(10));
        buildAndStart();
        const SteadyTime started = scheduler.now();
        scheduler.advanceTo(started + c.at);
        c.event();
        const size_t checksBefore = capture->healthChecks.size();
        scheduler.advanceTo(started + milliseconds(3999));
        EXPECT_EQ(capture->restartCalls, 1) << c.name;
        EXPECT_EQ(capture->healthChecks.size(), checksBefore) << c.name << ": the watchdog raced the restart";
        scheduler.advanceTo(started + seconds(6));
        EXPECT_EQ(capture->healthChecks.size(), checksBefore + 1) << c.name << ": the watchdog is back";
        EXPECT_EQ(capture->restartCalls, 1) << c.name;
    }
}

TEST_F(EngineLifecycleTest, FailedFirstStartIsLoggedAndQuitStopsEverythingBeforeTerminating) {
    build();
    EXPECT_TRUE(hotkeys->live.empty()) << "nothing is registered before start";
    capture->startError = "Cannot open display :5";
    capture->hangsOnStop = true;
    engine->start();
    EXPECT_EQ(log.count("[Corvane] Initial capture start notice: Cannot open display :5"), 1);
    EXPECT_EQ(hotkeys->live.size(), 3u);

    tray->callbacks.onQuitRequested();
    EXPECT_EQ(capture->stopAndWaitTimeouts, std::vector<Duration>{seconds(2)});
    EXPECT_EQ(terminated, std::vector<size_t>{1}) << "terminated after the bounded stop";
    EXPECT_EQ(abandoned, std::vector<size_t>{0}) << "a start waiting on a dialog is given up before the stop";
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
}

}  // namespace
}  // namespace corvane::test
