// Clip saving through the engine: one save at a time, the saving indicator, the notification
// texts and the announcement of the new file.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <future>
#include <thread>

#include "core/engine/EngineHarness.h"
#include "core/engine/SaveMessages.h"

namespace corvane::test {
namespace {

using Failure = ClipExportResult::Failure;
const char* kDuplicate = "[Corvane] Clip export already in progress, ignoring duplicate trigger";

using EngineSaveTest = EngineHarness;

TEST_F(EngineSaveTest, SecondRequestWhileSavingIsDroppedAndTheSaveReportsOnTheMainThread) {
    buildAndStart();
    std::vector<std::string> announced, callback;
    announcer.subscribe([&](const std::string& path) { announced.push_back(path); });
    engine->onClipSavedCallback = [&](const std::string& path) { callback.push_back(path); };
    exporter.nextResult = {Failure::None, "/clips/Clip_a_30s.mp4", 30};
    exporter.duringExport = [this] { EXPECT_TRUE(engine->isSavingClip()); };
    hotkeys->press("Cmd+Shift+1");
    hotkeys->press("Cmd+Shift+1");  // 50 ms later: the first is still queued
    EXPECT_EQ(countLines(kDuplicate), 1);
    lane.runDue();
    EXPECT_EQ(exporter.durations.size(), 1u) << "dropped, not queued";
    EXPECT_EQ(callback, std::vector<std::string>{"/clips/Clip_a_30s.mp4"});
    EXPECT_TRUE(tray->savingHistory.empty()) << "the tray is only touched on the main thread";
    EXPECT_TRUE(announced.empty());
    scheduler.runDue();
    EXPECT_EQ(tray->savingHistory, (std::vector<bool>{true, false}));
    EXPECT_EQ(announced, callback);

    // Once the save has ended the next request (here from the menu) is accepted; it fails and
    // announces nothing.
    exporter.nextResult = {Failure::NotEnoughVideo};
    tray->callbacks.onClipRequested(45);
    lane.runDue();
    scheduler.runDue();
    EXPECT_EQ(exporter.durations, (std::vector<double>{30, 45}));
    EXPECT_EQ(countLines("[Corvane] Menu action triggered for 45s clip"), 1);
    EXPECT_EQ(announced.size(), 1u);
    EXPECT_EQ(callback.size(), 1u);
}

TEST_F(EngineSaveTest, NotificationTextsForSavedMissingVideoAndWriteFailure) {
    config.outputDir = "~/Videos/Corvane";
    buildAndStart();
    const ClipExportResult results[] = {
        {Failure::None, "/home/u/Videos/Corvane/Clip_2026-01-02_03-04-05_130s.mp4", 129.6},
        {Failure::NotEnoughVideo},
        {Failure::CouldNotWrite, "", 0, "No space left on device"},
    };
    std::vector<ClipSaveOutcome> outcomes;
    for (const ClipExportResult& r : results) {
        exporter.nextResult = r;
        engine->requestClip(600, [&](const ClipSaveOutcome& o) { outcomes.push_back(o); });
        lane.runDue();
    }
    exporter.nextResult = results[0];
    engine->requestClip(130, [&](const ClipSaveOutcome& o) { outcomes.push_back(o); });
    lane.runDue();
    using Shown = std::pair<std::string, std::string>;
    EXPECT_EQ(notifier.shown,
              (std::vector<Shown>{
                  {"Corvane - Clip saved (130s)",
                   "Saved 130 s of the 600 s asked\nClip_2026-01-02_03-04-05_130s.mp4\nSaved in ~/Videos/Corvane"},
                  {"Corvane - Clip not saved", "Not enough video recorded yet to save a clip."},
                  {"Corvane - Clip not saved", "Could not write the clip: No space left on device"},
                  {"Corvane - Clip saved (130s)", "Clip_2026-01-02_03-04-05_130s.mp4\nSaved in ~/Videos/Corvane"}}));
    ASSERT_EQ(outcomes.size(), 4u);
    EXPECT_EQ(outcomes[0].shortfall, "Saved 130 s of the 600 s asked") << "the caller is told as well";
    EXPECT_EQ(outcomes[3].shortfall, "") << "a clip within half a second of the request is whole";
    EXPECT_EQ(exporter.lastOutputDir, "~/Videos/Corvane") << "the exporter expands the tilde";
    EXPECT_FALSE(engine->isSavingClip()) << "a failure clears the flag";

    EXPECT_EQ(clipSavedTitle(12.5), "Corvane - Clip saved (13s)") << "halves round up";
    EXPECT_EQ(clipSavedTitle(0.4), "Corvane - Clip saved (1s)") << "never zero";
    EXPECT_EQ(clipSavedTitle(std::nan("")), "Corvane - Clip saved (1s)");
}

TEST_F(EngineSaveTest, LengthsUnderOneSecondAreRefusedBeforeAnythingIsSaved) {
    buildAndStart();
    std::vector<std::string> reasons;
    for (double seconds : {0.0, 1e-9, 0.999, -5.0, std::nan(""), HUGE_VAL}) {
        engine->requestClip(seconds, [&](const ClipSaveOutcome& o) {
            EXPECT_FALSE(o.ok);
            reasons.push_back(o.reason);
        });
    }
    lane.runDue();
    EXPECT_TRUE(exporter.durations.empty());
    EXPECT_FALSE(engine->isSavingClip());
    EXPECT_EQ(reasons, std::vector<std::string>(6, "The clip length must be at least one second."));
    engine->requestClip(1.0);
    lane.runDue();
    EXPECT_EQ(exporter.durations, std::vector<double>{1.0});
}

TEST_F(EngineSaveTest, OnTheRealWorkerRequestsFromAnyThreadNeverOverlap) {
    useOwnSaveLane = true;
    buildAndStart();
    std::promise<void> exporting, release;
    std::shared_future<void> released = release.get_future().share();
    exporter.nextResult = {Failure::None, "/clips/Clip_z_30s.mp4", 30};
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
    EXPECT_EQ(countLines(kDuplicate), 2);

    release.set_value();
    EXPECT_TRUE(first.get_future().get().ok);
    EXPECT_EQ(exporter.durations.size(), 1u);
    EXPECT_EQ(engine->saveClip(45).path, "/clips/Clip_z_30s.mp4") << "accepted once the save ended";
    EXPECT_EQ(exporter.durations.size(), 2u);
}

}  // namespace
}  // namespace corvane::test
