// Live reconfiguration: hotkey ids after a reload, the buffer raise, the capture settings and
// which reloads may restart capture.
#include <gtest/gtest.h>

#include "core/engine/EngineHarness.h"

namespace corvane::test {
namespace {

const char* kProfiles =
    "[[records]]\nduration = 30\nhotkey = \"Cmd+Shift+1\"\n\n"
    "[[records]]\nduration = 60\nhotkey = \"Cmd+Shift+2\"\n\n"
    "[[records]]\nduration = 120\nhotkey = \"Cmd+Shift+3\"\n";

class EngineReloadTest : public EngineHarness {
protected:
    void SetUp() override {
        config.records = {RecordItem(30, "Cmd+Shift+1"), RecordItem(60, "Cmd+Shift+2"),
                          RecordItem(120, "Cmd+Shift+3")};
    }
    double pressAndSave(const char* shortcut) {
        const size_t before = exporter.calls.size();
        if (!hotkeys->press(shortcut)) return -1;
        lane.runAll();
        return exporter.calls.size() > before ? exporter.calls.back().durationSeconds : -1;
    }
};

TEST_F(EngineReloadTest, IdsArePositionsAndEmptyShortcutsAreNotRegistered) {
    config.records = {RecordItem(30, "Cmd+Shift+1"), RecordItem(60, ""), RecordItem(90, "Cmd+Shift+3")};
    buildAndStart();
    EXPECT_EQ(engine->recordDurationsById(),
              (std::map<int32_t, double>{{1, 30.0}, {2, 60.0}, {3, 90.0}}));
    EXPECT_EQ(hotkeys->live.size(), 2u);
    EXPECT_EQ(pressAndSave("Cmd+Shift+3"), 90.0);
}

TEST_F(EngineReloadTest, ReorderedProfilesMapEachShortcutToItsNewDuration) {
    buildAndStart();
    writeConfig(
        "[[records]]\nduration = 120\nhotkey = \"Cmd+Shift+1\"\n\n"
        "[[records]]\nduration = 30\nhotkey = \"Cmd+Shift+3\"\n");
    engine->reloadConfigAndApply();
    EXPECT_EQ(hotkeys->ungrabCalls, 3) << "old ids are released first";
    EXPECT_EQ(hotkeys->live.size(), 2u);
    EXPECT_EQ(pressAndSave("Cmd+Shift+1"), 120.0);
    EXPECT_EQ(pressAndSave("Cmd+Shift+3"), 30.0);
    EXPECT_FALSE(hotkeys->press("Cmd+Shift+2"));
    EXPECT_EQ(tray->updateRecordsCalls, 1);
    EXPECT_EQ(countLines("[Corvane] Shortcuts and buffer updated live."), 1);
}

TEST_F(EngineReloadTest, UnknownIdIsLoggedAndSavesNothing) {
    buildAndStart();
    hotkeys->onPress(999);  // a grab the registry does not know: no id reaches the engine
    engine->hotkeys().onHotKeyTriggered(7);
    lane.runAll();
    EXPECT_TRUE(exporter.calls.empty());
    EXPECT_EQ(countLines("[Corvane] Hotkey triggered for unknown action ID: 7"), 1);
}

TEST_F(EngineReloadTest, FileWithoutProfilesKeepsHotkeysAndBufferButAppliesCapture) {
    buildAndStart();
    const int grabs = hotkeys->grabCalls;
    writeConfig("fps = 30\n");
    engine->reloadConfigAndApply();
    EXPECT_EQ(hotkeys->grabCalls, grabs);
    EXPECT_EQ(hotkeys->ungrabCalls, 0);
    EXPECT_EQ(engine->ringBuffer()->maxDurationSeconds(), 130.0);
    EXPECT_EQ(tray->updateRecordsCalls, 0);
    EXPECT_EQ(capture->held.fps, 30);
}

TEST_F(EngineReloadTest, BufferIsRaisedToTheLongestProfileButNeverLowered) {
    buildAndStart();
    writeConfig("[[records]]\nduration = 300\nhotkey = \"Cmd+Shift+1\"\n");
    engine->reloadConfigAndApply();
    EXPECT_EQ(engine->ringBuffer()->maxDurationSeconds(), 310.0);

    writeConfig("[[records]]\nduration = 60\nhotkey = \"Cmd+Shift+1\"\n");
    engine->reloadConfigAndApply();
    EXPECT_EQ(engine->ringBuffer()->maxDurationSeconds(), 130.0) << "back to the start-up length";
}

TEST_F(EngineReloadTest, PlaySoundOnlyRestartsNothingAndReachesTheNextSave) {
    buildAndStart();
    ASSERT_TRUE(capture->running);
    bufferVideo(5);
    writeConfig(std::string("play_sound = false\n") + kProfiles);
    engine->reloadConfigAndApply();
    EXPECT_EQ(capture->restartsFromConfig, 0);
    EXPECT_EQ(capture->restartCalls, 0);
    EXPECT_EQ(capture->held.bitrateKbps, 12000) << "the running rate is kept";
    EXPECT_GT(engine->ringBuffer()->getStatus().videoCount, 0u) << "the buffer is kept";

    engine->requestClip(30);
    lane.runAll();
    ASSERT_EQ(exporter.calls.size(), 1u);
    EXPECT_FALSE(exporter.calls[0].playSound);
}

TEST_F(EngineReloadTest, ResolutionChangeSetsTargetAndDerivedRateAndRestarts) {
    config.resolution = "native";
    buildAndStart();
    writeConfig("resolution = \"1080p\"\nfps = 30\n");
    engine->reloadConfigAndApply();
    EXPECT_EQ(capture->held.targetWidth, 1920);
    EXPECT_EQ(capture->held.targetHeight, 1080);
    EXPECT_EQ(capture->held.bitrateKbps, calculateDynamicBitrate(1920, 1080, 30));
    EXPECT_EQ(capture->restartsFromConfig, 1);

    writeConfig("resolution = \"4K\"\n");
    engine->reloadConfigAndApply();
    EXPECT_EQ(capture->held.targetWidth, 3840);
    EXPECT_EQ(capture->held.targetHeight, 2160);
}

TEST_F(EngineReloadTest, WindowModeUsesScaleNotTargetSize) {
    buildAndStart();
    writeConfig("window_id = 4242\nresolution = \"50%\"\n");
    engine->reloadConfigAndApply();
    EXPECT_EQ(capture->held.windowId, 4242u);
    EXPECT_EQ(capture->held.targetWidth, 0);
    EXPECT_EQ(capture->held.windowScale, 0.5f);

    writeConfig("window_id = 4242\nresolution = \"1080p\"\n");
    engine->reloadConfigAndApply();
    EXPECT_EQ(capture->held.targetWidth, 0);
    EXPECT_EQ(capture->held.windowScale, 1.0f);
}

TEST_F(EngineReloadTest, BrokenNumbersAreIgnoredAndEmptyFolderMeansDefault) {
    buildAndStart();
    writeConfig("fps = 0\n");
    engine->reloadConfigAndApply();
    EXPECT_EQ(capture->held.fps, 48);
    writeConfig("fps = 99999999999\nbitrate_kbps = -99999999999\n");
    engine->reloadConfigAndApply();
    EXPECT_EQ(capture->held.fps, 48);
    EXPECT_EQ(capture->restartsFromConfig, 0);

    writeConfig("output_dir = \"\"\n");
    engine->reloadConfigAndApply();
    EXPECT_EQ(engine->outputDir(), "~/Videos/Corvane");
    EXPECT_EQ(tray->outputDir, "~/Videos/Corvane");
    EXPECT_EQ(window.outputDir, "~/Videos/Corvane");
}

TEST_F(EngineReloadTest, ConstructionReplacesImpossibleRates) {
    config.fps = 0;
    config.bitrateKbps = int64_t(1) << 40;
    build();
    EXPECT_EQ(capture->held.fps, 48);
    EXPECT_EQ(capture->held.bitrateKbps, 12000);
}

TEST_F(EngineReloadTest, UnreadableFileChangesNothing) {
    buildAndStart();
    engine->reloadConfigAndApply();  // no file written
    EXPECT_EQ(hotkeys->ungrabCalls, 0);
    EXPECT_EQ(capture->restartsFromConfig, 0);
    EXPECT_EQ(engine->records().size(), 3u);
}

}  // namespace
}  // namespace corvane::test
