// Clip saving through the engine: one save at a time, the saving indicator, the notification
// texts and the announcement of the new file.
#include <gtest/gtest.h>

#include <cmath>
#include <atomic>
#include <future>
#include <thread>

#include "core/engine/EngineHarness.h"
#include "core/engine/SaveMessages.h"

namespace corvane::test {
namespace {

ClipExportResult saved(const std::string& path, double seconds) {
    ClipExportResult r;
    r.path = path;
    r.actualSeconds = seconds;
    return r;
}

ClipExportResult failed(ClipExportResult::Failure failure, const std::string& reason) {
    ClipExportResult r;
    r.failure = failure;
    r.reason = reason;
    return r;
}

class EngineSaveTest : public EngineHarness {};

TEST_F(EngineSaveTest, SecondRequestWhileSavingIsDroppedNotQueued) {
    buildAndStart();
    exporter.nextResult = saved("/clips/Clip_a_30s.mp4", 30);
    ASSERT_TRUE(hotkeys->press("Cmd+Shift+1"));
    ASSERT_TRUE(hotkeys->press("Cmd+Shift+1"));  // 50 ms later: the first is still queued
    EXPECT_EQ(countLines("[Corvane] Clip export already in progress, ignoring duplicate trigger"), 1);
    lane.runAll();
    EXPECT_EQ(exporter.calls.size(), 1u);
    EXPECT_EQ(notifier.all().size(), 1u);

    // Once the save has ended, the next request is accepted.
    ASSERT_TRUE(hotkeys->press("Cmd+Shift+2"));
    lane.runAll();
    ASSERT_EQ(exporter.calls.size(), 2u);
    EXPECT_EQ(exporter.calls[1].durationSeconds, 60.0);
}

TEST_F(EngineSaveTest, SavingIndicatorGoesOnThenOffOnTheMainThread) {
    buildAndStart();
    exporter.nextResult = saved("/clips/Clip_x_30s.mp4", 30);
    exporter.duringExport = [this] {
        // The export runs with the indicator queued but the save flag already set.
        EXPECT_TRUE(engine->isSavingClip());
    };
    engine->requestClip(30);
    lane.runAll();
    EXPECT_TRUE(tray->savingHistory.empty()) << "the tray is only touched on the main thread";
    scheduler.runDue();
    EXPECT_EQ(tray->savingHistory, (std::vector<bool>{true, false}));
    EXPECT_FALSE(engine->isSavingClip());
}

TEST_F(EngineSaveTest, SavedNotificationUsesWrittenLengthAndConfiguredFolder) {
    config.outputDir = "~/Videos/Corvane";
    buildAndStart();
    exporter.nextResult = saved("/home/u/Videos/Corvane/Clip_2026-01-02_03-04-05_130s.mp4", 129.6);
    engine->requestClip(600);
    lane.runAll();
    ASSERT_EQ(notifier.all().size(), 1u);
    EXPECT_EQ(notifier.all()[0].first, "Corvane - Clip saved (130s)");
    EXPECT_EQ(notifier.all()[0].second,
              "Clip_2026-01-02_03-04-05_130s.mp4\nSaved in ~/Videos/Corvane");
    EXPECT_EQ(exporter.calls[0].outputDir, "~/Videos/Corvane") << "the exporter expands the tilde";
}

TEST_F(EngineSaveTest, SavedTitleRoundsHalvesUpAndNeverSaysZero) {
    EXPECT_EQ(clipSavedTitle(29.6), "Corvane - Clip saved (30s)");
    EXPECT_EQ(clipSavedTitle(12.5), "Corvane - Clip saved (13s)");
    EXPECT_EQ(clipSavedTitle(0.4), "Corvane - Clip saved (1s)");
    EXPECT_EQ(clipSavedTitle(std::nan("")), "Corvane - Clip saved (1s)");
}

TEST_F(EngineSaveTest, FailedSaveSaysWhetherVideoWasMissingOrTheWriteFailed) {
    buildAndStart();
    exporter.nextResult = failed(ClipExportResult::Failure::NotEnoughVideo, "");
    engine->requestClip(30);
    lane.runAll();
    exporter.nextResult =
        failed(ClipExportResult::Failure::CouldNotWrite, "No space left on device");
    engine->requestClip(30);
    lane.runAll();

    const auto shown = notifier.all();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].first, "Corvane - Clip not saved");
    EXPECT_EQ(shown[0].second, "Not enough video recorded yet to save a clip.");
    EXPECT_EQ(shown[1].first, "Corvane - Clip not saved");
    EXPECT_EQ(shown[1].second, "Could not write the clip: No space left on device");
    EXPECT_FALSE(engine->isSavingClip()) << "a failure clears the flag";
}

TEST_F(EngineSaveTest, SuccessIsAnnouncedOnTheMainThreadAndToTheCallback) {
    buildAndStart();
    std::vector<std::string> announced;
    announcer.subscribe([&](const std::string& path) { announced.push_back(path); });
    std::vector<std::string> callback;
    engine->onClipSavedCallback = [&](const std::string& path) { callback.push_back(path); };
    exporter.nextResult = saved("/clips/Clip_y_60s.mp4", 60);

    engine->requestClip(60);
    lane.runAll();
    EXPECT_EQ(callback, std::vector<std::string>{"/clips/Clip_y_60s.mp4"});
    EXPECT_TRUE(announced.empty());
    scheduler.runDue();
    EXPECT_EQ(announced, std::vector<std::string>{"/clips/Clip_y_60s.mp4"});

    exporter.nextResult = failed(ClipExportResult::Failure::NotEnoughVideo, "");
    engine->requestClip(60);
    lane.runAll();
    scheduler.runDue();
    EXPECT_EQ(announced.size(), 1u) << "a failed save announces nothing";
}

TEST_F(EngineSaveTest, OnTheRealWorkerRequestsFromAnyThreadNeverOverlap) {
    useOwnSaveLane = true;
    buildAndStart();
    std::promise<void> exporting;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    exporter.nextResult = saved("/clips/Clip_z_30s.mp4", 30);
    std::atomic<bool> blockOnce{true};
    exporter.duringExport = [&] {
        if (!blockOnce.exchange(false)) return;
        exporting.set_value();
        released.wait();
    };
    std::promise<ClipSaveOutcome> first;
    engine->requestClip(30, [&](const ClipSaveOutcome& o) { first.set_value(o); });
    exporting.get_future().wait();  // the worker is inside the export

    engine->requestClip(60);  // main thread
    ClipSaveOutcome fromOtherThread;
    std::thread([&] { fromOtherThread = engine->saveClip(90); }).join();
    EXPECT_FALSE(fromOtherThread.ok);
    EXPECT_EQ(countLines("[Corvane] Clip export already in progress, ignoring duplicate trigger"), 2);

    release.set_value();
    EXPECT_TRUE(first.get_future().get().ok);
    EXPECT_EQ(exporter.calls.size(), 1u);
    EXPECT_EQ(engine->saveClip(45).path, "/clips/Clip_z_30s.mp4") << "accepted once the save ended";
    EXPECT_EQ(exporter.calls.size(), 2u);
}

TEST_F(EngineSaveTest, MenuCommandSavesLikeAShortcut) {
    buildAndStart();
    tray->callbacks.onClipRequested(45);
    lane.runAll();
    ASSERT_EQ(exporter.calls.size(), 1u);
    EXPECT_EQ(exporter.calls[0].durationSeconds, 45);
    EXPECT_EQ(countLines("[Corvane] Menu action triggered for 45s clip"), 1);
}

}  // namespace
}  // namespace corvane::test
