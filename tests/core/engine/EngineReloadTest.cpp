#include <gtest/gtest.h>

#include <filesystem>

#include "core/engine/EngineHarness.h"

namespace corvane::test {
namespace {

class EngineReloadTest : public EngineHarness {
protected:
    // The duration the shortcut saved, or -1 when it saved nothing.
    double pressAndSave(const char* shortcut) {
        const size_t before = exporter.durations.size();
        hotkeys->press(shortcut);
        lane.runDue();
        return exporter.durations.size() > before ? exporter.durations.back() : -1;
    }
};

TEST_F(EngineReloadTest, NewProfilesGetIdsByPositionAndRaiseButNeverLowerTheBuffer) {
    buildAndStart();
    reloadWith(
        "[[records]]\nduration = 300\nhotkey = \"Cmd+Shift+1\"\n\n"
        "[[records]]\nduration = 60\nhotkey = \"\"\n\n"
        "[[records]]\nduration = 30\nhotkey = \"Cmd+Shift+3\"\n");
    EXPECT_EQ(hotkeys->bindCalls, 2) << "the new set replaces the old one";
    EXPECT_EQ(hotkeys->live.size(), 2u) << "an empty shortcut is not registered";
    ASSERT_EQ(hotkeys->lastBindings.size(), 2u);
    EXPECT_EQ(hotkeys->lastBindings[1].id, "profile-3");
    EXPECT_EQ(hotkeys->lastBindings[0].description, "Save last 5 minutes") << "as in the tray menu";
    EXPECT_EQ(pressAndSave("Cmd+Shift+1"), 300.0);
    EXPECT_EQ(pressAndSave("Cmd+Shift+3"), 30.0);
    EXPECT_EQ(pressAndSave("Cmd+Shift+2"), -1);
    EXPECT_EQ(tray->updateRecordsCalls, 1);
    EXPECT_EQ(log.count("[Corvane] Shortcuts and buffer updated live."), 1);
    EXPECT_EQ(engine->ringBuffer()->maxDurationSeconds(), 310.0);

    reloadWith("[[records]]\nduration = 60\nhotkey = \"Cmd+Shift+1\"\n");
    EXPECT_EQ(engine->ringBuffer()->maxDurationSeconds(), 130.0) << "never below the start-up length";
    engine->hotkeys().onHotKeyTriggered(7);
    lane.runDue();
    EXPECT_EQ(exporter.durations.size(), 2u);
    EXPECT_EQ(log.count("[Corvane] Hotkey triggered for unknown action ID: 7"), 1);
}

TEST_F(EngineReloadTest, ResolutionSetsTargetSizeOnScreensAndScaleOnWindows) {
    struct Case {
        const char* file;
        int32_t width, height;
        float windowScale;
    };
    const Case cases[] = {
        {"resolution = \"1080p\"\nfps = 30\n", 1920, 1080, 1.0f},
        {"window_id = 4242\nresolution = \"50%\"\n", 0, 0, 0.5f},
        {"window_id = 4242\nresolution = \"1080p\"\n", 0, 0, 1.0f},
    };
    config.resolution = "native";
    buildAndStart();
    for (const Case& c : cases) {
        reloadWith(c.file);
        EXPECT_EQ(std::tuple(capture->held.targetWidth, capture->held.targetHeight, capture->held.windowScale),
                  std::tuple(c.width, c.height, c.windowScale)) << c.file;
    }
    EXPECT_EQ(capture->held.fps, 30) << "a file without fps keeps the last one";
    EXPECT_EQ(capture->restartsFromConfig, 3);
}

TEST_F(EngineReloadTest, UnreadableFileImpossibleRatesOrPlaySoundAloneRestartNothing) {
    config.fps = 0;
    config.bitrateKbps = int64_t(1) << 40;
    buildAndStart();
    EXPECT_EQ(capture->held.fps, 48);
    EXPECT_EQ(capture->held.bitrateKbps, 12000);
    bufferVideo(5);
    reloadWith("fps = 0\n");
    reloadWith("fps = 99999999999\nbitrate_kbps = -99999999999\n");
    reloadWith("play_sound = false\n");
    EXPECT_EQ(capture->held.fps, 48);
    EXPECT_EQ(capture->restartsFromConfig, 0);
    EXPECT_EQ(capture->restartCalls, 0);
    EXPECT_GT(buffered(), 0u);
    EXPECT_EQ(hotkeys->bindCalls, 1) << "a file without profiles keeps them";
    exporter.nextResult = {ClipExportResult::Failure::None, "/clips/Clip_a_30s.mp4", 30};
    EXPECT_EQ(pressAndSave("Cmd+Shift+1"), 30.0);
    scheduler.runDue();
    EXPECT_EQ(chime.plays.load(), 0) << "the new setting reaches the next save";
}

TEST_F(EngineReloadTest, AFileThatCannotBeReadAppliesNothingAndSaysWhy) {
    buildAndStart();
    const std::string path = config.configPath;
    struct Case {
        const char* name;
        std::function<void()> prepare;
        const char* reason;
    };
    const Case cases[] = {
        {"missing", [] {}, "the file does not exist"},
        {"empty", [&] { std::ofstream(path, std::ios::trunc); }, "the file is empty"},
        {"blank", [&] { std::ofstream(path, std::ios::trunc) << " \n\t\n"; }, "the file is empty"},
        {"a folder", [&] { std::filesystem::remove(path); std::filesystem::create_directory(path); }, "Is a directory"},
    };
    std::map<std::string, int> logged;  // the same reason twice gives the same line twice
    const int bindsBefore = hotkeys->bindCalls;
    for (const Case& c : cases) {
        c.prepare();
        ++logged[c.reason];
        const ConfigReloadOutcome outcome = engine->reloadConfigAndApply();
        EXPECT_FALSE(outcome.applied) << c.name;
        EXPECT_EQ(outcome.reason, "Could not read " + path + ": " + c.reason) << c.name;
        EXPECT_EQ(log.count("[Corvane] Could not reload the configuration file " + path + " (" + c.reason +
                             "); the current settings stay."), logged[c.reason])
            << c.name;
    }
    EXPECT_EQ(capture->held.fps, 48);
    EXPECT_EQ(hotkeys->bindCalls, bindsBefore);

    std::filesystem::remove(path);
    reloadWith("fps = 30\n");
    EXPECT_TRUE(engine->reloadConfigAndApply().applied);
    EXPECT_EQ(capture->held.fps, 30);
}

TEST_F(EngineReloadTest, AnEmptyFolderMeansTheDefaultEverywhere) {
    buildAndStart();
    reloadWith("output_dir = \"\"\n");
    EXPECT_EQ(engine->outputDir(), "~/Videos/Corvane");
    EXPECT_EQ(tray->outputDir, "~/Videos/Corvane");
    EXPECT_EQ(window.outputDir, "~/Videos/Corvane");
}

}  // namespace
}  // namespace corvane::test
