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
    exporter.duringExport = [this](ExportProgress&) { EXPECT_TRUE(engine->isSavingClip()); };
    hotkeys->press("Cmd+Shift+1");
    hotkeys->press("Cmd+Shift+1");  // 50 ms later: the first is still queued
    EXPECT_EQ(log.count(kDuplicate), 1);
    lane.runDue();
    EXPECT_EQ(exporter.durations.size(), 1u) << "dropped, not queued";
    EXPECT_EQ(callback, std::vector<std::string>{"/clips/Clip_a_30s.mp4"});
    EXPECT_TRUE(tray->savingHistory.empty()) << "the tray is only touched on the main thread";
    EXPECT_TRUE(announced.empty());
    EXPECT_EQ(chime.plays.load(), 0) << "the chime plays on the main thread";
    scheduler.runDue();
    EXPECT_EQ(tray->savingHistory, (std::vector<bool>{true, false}));
    EXPECT_EQ(announced, callback);
    EXPECT_EQ(chime.plays.load(), 1);

    // Once the save has ended the next request (here from the menu) is accepted; it fails and
    // announces nothing.
    exporter.nextResult = {Failure::NotEnoughVideo};
    tray->callbacks.onClipRequested(45);
    lane.runDue();
    scheduler.runDue();
    EXPECT_EQ(exporter.durations, (std::vector<double>{30, 45}));
    EXPECT_EQ(log.count("[Corvane] Menu action triggered for 45s clip"), 1);
    EXPECT_EQ(announced.size(), 1u);
    EXPECT_EQ(callback.size(), 1u);
    EXPECT_EQ(chime.plays.load(), 1) << "no chime for a clip not saved";
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
    EXPECT_EQ(outcomes[0].note, outcomes[0].shortfall);

    // A save across changes of video format: one notification naming its files, the newest path
    // for the caller and the others in the note; a file that could not be written is named.
    exporter.nextResult = {Failure::None, "/v/Clip_t_8s_part3.mp4", 28, "", {"/v/Clip_t_12s_part1.mp4"}, 3,
                           {{2, "No space left on device"}}};
    engine->requestClip(30, [&](const ClipSaveOutcome& o) { outcomes[0] = o; });
    lane.runDue();
    const std::string split = "The video format changed during the clip, so it was saved as 3 files";
    EXPECT_EQ(notifier.shown.back(), Shown("Corvane - Clip saved (28s)",
                                           "Saved 28 s of the 30 s asked\n" + split + "\nPart 2 of 3 could not be "
                                           "written: No space left on device\nClip_t_12s_part1.mp4\n"
                                           "Clip_t_8s_part3.mp4\nSaved in ~/Videos/Corvane"));
    EXPECT_EQ(outcomes[0].path, "/v/Clip_t_8s_part3.mp4");
    EXPECT_EQ(outcomes[0].note, "Saved 28 s of the 30 s asked. " + split + "; also written: /v/Clip_t_12s_part1.mp4. "
                                "Part 2 of 3 could not be written: No space left on device");
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

// A save whose write hangs (a stalled network mount) is given up while it still hangs: after 3 s
// without progress it is reported as failed and the next request runs on a new worker; the stuck
// export is told to give up and nothing more is reported when it finally returns.
TEST_F(EngineSaveTest, AStuckWriteIsGivenUpAfterThreeSecondsAndTheNextSaveRunsBesideIt) {
    useOwnSaveLane = true;
    buildAndStart();
    std::promise<void> stuck, release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> sawAbandoned{false};
    std::atomic<int> calls{0};
    exporter.nextResult = {Failure::None, "/clips/Clip_b_45s.mp4", 45};
    exporter.duringExport = [&](ExportProgress& progress) {
        if (calls++ > 0) return;
        progress.steps = 1;
        stuck.set_value();
        released.wait();
        sawAbandoned = progress.abandoned.load();
    };
    std::vector<ClipSaveOutcome> firstOutcomes;  // main thread only: the first save is given up there
    engine->requestClip(30, [&](const ClipSaveOutcome& o) { firstOutcomes.push_back(o); });
    stuck.get_future().wait();
    // While it runs, requests from any thread are dropped, not run beside it.
    engine->requestClip(60);
    std::thread([&] { EXPECT_FALSE(engine->saveClip(90).ok); }).join();
    EXPECT_EQ(log.count(kDuplicate), 2);
    scheduler.runDue();  // the watch begins
    scheduler.advanceBy(std::chrono::milliseconds(2900));
    EXPECT_TRUE(engine->isSavingClip());
    EXPECT_TRUE(firstOutcomes.empty());
    scheduler.advanceBy(std::chrono::milliseconds(200));
    ASSERT_EQ(firstOutcomes.size(), 1u);
    EXPECT_EQ(firstOutcomes[0].reason, "Could not write the clip: Writing stopped making progress");
    EXPECT_EQ(log.count("[Corvane] Timeout: Neither video nor audio input became ready for 3s (vIdx=0/0, aIdx=0/0)"), 1);
    EXPECT_FALSE(engine->isSavingClip());

    std::promise<ClipSaveOutcome> second;
    engine->requestClip(45, [&](const ClipSaveOutcome& o) { second.set_value(o); });
    EXPECT_TRUE(second.get_future().get().ok) << "runs while the first is still stuck";
    EXPECT_EQ(calls.load(), 2);

    release.set_value();
    // The stuck save ends on its own thread; the engine's worker waits for nothing of it.
    for (int i = 0; i < 500 && !sawAbandoned; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_TRUE(sawAbandoned.load()) << "the export was told to stop and remove its file";
    scheduler.runDue();
    std::lock_guard lock(notifier.mutex);
    EXPECT_EQ(notifier.shown.size(), 2u) << "the stuck save is reported once, as failed";
    EXPECT_EQ(firstOutcomes.size(), 1u);
}

// Progress keeps a slow save alive; finishing is allowed 10 s in all. In virtual time on the test
// thread: the export moves the main thread's clock while it "writes".
TEST_F(EngineSaveTest, ProgressKeepsASlowSaveAliveAndFinishingGetsTenSeconds) {
    buildAndStart();
    exporter.nextResult = {Failure::None, "/clips/Clip_c_30s.mp4", 30};
    exporter.duringExport = [this](ExportProgress& progress) {
        scheduler.runDue();
        for (int i = 0; i < 4; ++i) {  // a step every 2.5 s for 10 s
            scheduler.advanceBy(std::chrono::milliseconds(2500));
            ++progress.steps;
        }
        progress.phase = ExportProgress::Phase::Finishing;
        scheduler.advanceBy(std::chrono::milliseconds(9800));
    };
    EXPECT_TRUE(engine->saveClip(30).ok);
    EXPECT_EQ(log.count("[Corvane] Timeout while finalizing MP4 file"), 0);

    exporter.duringExport = [this](ExportProgress& progress) {
        scheduler.runDue();
        progress.filesTotal = 2;  // the first of two files is written, the second hangs
        progress.filesWritten = 1;
        progress.phase = ExportProgress::Phase::Finishing;
        scheduler.advanceBy(std::chrono::milliseconds(10300));
        EXPECT_TRUE(progress.abandoned.load());
    };
    const ClipSaveOutcome overrun = engine->saveClip(30);
    EXPECT_FALSE(overrun.ok);
    EXPECT_EQ(log.count("[Corvane] Timeout while finalizing MP4 file"), 1);
    std::lock_guard lock(notifier.mutex);
    EXPECT_EQ(notifier.shown.back(),
              std::make_pair(std::string(kClipNotSavedTitle), std::string("Could not write the clip: Finishing the file took too long (1 of its 2 files was saved)")));
    EXPECT_FALSE(engine->isSavingClip());
}

}  // namespace
}  // namespace corvane::test
