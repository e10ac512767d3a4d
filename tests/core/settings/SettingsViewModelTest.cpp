#include "core/settings/SettingsViewModel.h"

#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "core/config/ConfigReader.h"
#include "core/log/Log.h"
#include "core/sched/ManualScheduler.h"
#include "support/TempDir.h"
#include "FakeCaptureSources.h"

namespace corvane {
namespace {

using namespace std::chrono_literals;

std::string readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void writeFile(const std::filesystem::path& p, const std::string& text) {
    std::ofstream(p, std::ios::binary) << text;
}

class SettingsViewModelTest : public ::testing::Test {
protected:
    SettingsViewModelTest() {
        sources_.content.displays = {{7, "HDMI-1", 0, 0, 1920, 1080, true},
                                     {9, "DP-2", 1920, 0, 2560, 1440, false}};
        sources_.content.windows = {{0x400001, "Notes", "editor", 0, 0, 1000, 600, 1.0},
                                    {0x500002, "", "xclock", 0, 0, 100, 100, 1.0}};
        setLogSinkForTesting([this](const std::string& line) { log_.push_back(line); });
    }
    ~SettingsViewModelTest() override { setLogSinkForTesting(nullptr); }

    // A model on a config file in a temp folder, loaded, with the change callback counted.
    std::unique_ptr<SettingsViewModel> makeModel() {
        auto model = std::make_unique<SettingsViewModel>(scheduler_, &sources_);
        model->setConfigPath(configPath_.string());
        model->setOnSettingsChanged([this] { ++applied_; });
        model->load();
        return model;
    }
    int savesLogged() const {
        return static_cast<int>(std::count_if(log_.begin(), log_.end(), [](const std::string& l) {
            return l.starts_with("[Corvane] Settings auto-saved to ");
        }));
    }

    test::TempDir dir_;
    std::filesystem::path configPath_ = dir_ / "config.toml";
    ManualScheduler scheduler_;
    test::FakeCaptureSources sources_;
    std::vector<std::string> log_;
    int applied_ = 0;
};

// ---------------------------------------------------------------- auto-save timing

TEST_F(SettingsViewModelTest, BurstOfEditsGivesOneSaveAndOneApplyAfterTheLastEdit) {
    auto model = makeModel();
    const auto start = scheduler_.now();
    model->setFps(60);
    scheduler_.advanceBy(100ms);
    model->setRecordAudio(false);
    scheduler_.advanceBy(100ms);
    model->setPlaySound(false);
    // 0.35 s after the last edit, not after the first.
    scheduler_.advanceBy(349ms);
    EXPECT_EQ(savesLogged(), 0);
    EXPECT_FALSE(std::filesystem::exists(configPath_));
    scheduler_.advanceBy(1ms);
    EXPECT_EQ(scheduler_.now() - start, 550ms);
    EXPECT_EQ(savesLogged(), 1);
    EXPECT_EQ(applied_, 1);
    EXPECT_EQ(log_.back(), "[Corvane] Settings auto-saved to " + configPath_.string());

    const ConfigReadResult back = ConfigReader::read(readFile(configPath_), ConfigReadMode::SettingsModel);
    EXPECT_EQ(back.fps, 60);
    EXPECT_EQ(back.recordAudio, false);
    EXPECT_EQ(back.playSound, false);
    scheduler_.advanceBy(5s);
    EXPECT_EQ(savesLogged(), 1);
}

TEST_F(SettingsViewModelTest, LoadingAndRefreshingListsNeverSave) {
    writeFile(configPath_, "fps = 30\nwindow_id = 4194305\nresolution = \"1080p\"\nshow_menubar = false\n");
    auto model = makeModel();
    model->refreshAvailableDisplays();
    model->refreshAvailableWindows();
    model->handleDisplayConfigurationChanged();
    model->handleActiveApplicationChanged();
    model->load();
    EXPECT_FALSE(model->hasPendingSave());
    scheduler_.advanceBy(10s);
    EXPECT_EQ(savesLogged(), 0);
    EXPECT_EQ(applied_, 0);
    // The target was built from the ids without the window rule resetting the resolution.
    EXPECT_EQ(model->captureTarget(), "window:4194305");
    EXPECT_EQ(model->resolution(), "1080p");
    EXPECT_TRUE(model->showMenubar());
}

// ---------------------------------------------------------------- file form

TEST_F(SettingsViewModelTest, SavedFileIsTheSettingsFormByteForByteAndReadsBack) {
    writeFile(configPath_,
              "fps = 60\nbitrate_kbps = 50000\nresolution = \"1080p\"\nmax_buffer_seconds = 20\n"
              "output_dir = \"/data/clips\"\nshow_menubar = false\ncodec = \"hevc\"\n"
              "[[records]]\nduration = 2\nhotkey = \"Ctrl+Alt+F9\"\n[[records]]\nduration = 120\nhotkey = \"\"\n");
    auto model = makeModel();
    // The bitrate of the file gives way to the one computed for 1080p at 60 fps.
    EXPECT_EQ(model->bitrateKbps(), 12000);
    model->setCaptureTarget("display:9");
    scheduler_.advanceBy(350ms);

    const std::string banner = "# " + std::string(78, '=');
    const std::string expected = banner + "\n# Corvane Configuration (Linux)\n" + banner +
        "\n\n# Target frame rate for screen capture (typically 48 or 60 fps).\nfps = 60\n\n"
        "# Video bitrate in kilobits per second (kbps).\nbitrate_kbps = 12000\n\n"
        "# Capture resolution.\nresolution = \"1080p\"\n\n"
        "# Maximum duration (in seconds) to keep in the in-memory circular ring buffer.\n"
        "max_buffer_seconds = 130.0\n\n"
        "# Destination folder where exported MP4 clips will be saved.\noutput_dir = \"/data/clips\"\n\n"
        "# Whether to capture system audio alongside video.\nrecord_audio = true\n\n"
        "# Whether to play a subtle confirmation sound when a clip is successfully saved.\nplay_sound = true\n\n"
        "# Whether to display the icon and menu in the system tray.\nshow_menubar = true\n\n"
        "# Screen / display ID to record (0 = Primary / Main Display).\ndisplay_id = 9\n\n"
        "# Target window ID (0 = none / capture display, >0 = capture specific window).\nwindow_id = 0\n\n" +
        banner + "\n# Recording Profiles & Shortcuts\n"
        "# Customizable recording durations (between 5s and 600s / 10min) and global hotkeys.\n" + banner +
        "\n[[records]]\nduration = 5\nhotkey = \"Ctrl+Alt+F9\"\n\n[[records]]\nduration = 120\nhotkey = \"\"\n";
    EXPECT_EQ(readFile(configPath_), expected);

    const ConfigReadResult back = ConfigReader::read(readFile(configPath_), ConfigReadMode::LoadOrCreate);
    EXPECT_EQ(back.codec, std::nullopt);  // no codec line: the engine falls back to h264
    EXPECT_EQ(back.showMenubar, true);
    EXPECT_EQ(back.displayId, 9u);
    ASSERT_EQ(back.records.size(), 2u);
    EXPECT_EQ(back.records[1].hotkey, "");
}

TEST_F(SettingsViewModelTest, FileWithoutProfilesUsesLegacyKeysThenDefaults) {
    writeFile(configPath_, "clip_60s = \"Ctrl+F2\"\n");
    auto model = makeModel();
    ASSERT_EQ(model->records().size(), 3u);
    EXPECT_EQ(model->records()[0].hotkey, "Cmd+Shift+1");
    EXPECT_EQ(model->records()[1].hotkey, "Ctrl+F2");
    EXPECT_EQ(model->records()[2].durationSeconds, 120);
}

// ---------------------------------------------------------------- protecting the user's file

TEST_F(SettingsViewModelTest, AfterAFailedLoadEditsAreNotSavedOverTheFile) {
    const std::string unreadable = "fps = 30\n\xff\xfe broken\n";
    writeFile(configPath_, unreadable);
    auto model = makeModel();
    EXPECT_NE(model->loadError().find("Could not read " + configPath_.string()), std::string::npos);
    model->setFps(120);
    model->addRecord();
    scheduler_.advanceBy(2s);
    EXPECT_EQ(readFile(configPath_), unreadable);
    EXPECT_EQ(applied_, 0);

    // Once the file reads again, saving resumes.
    writeFile(configPath_, "fps = 30\n");
    model->load();
    EXPECT_EQ(model->loadError(), "");
    model->setFps(120);
    scheduler_.advanceBy(350ms);
    EXPECT_EQ(ConfigReader::read(readFile(configPath_), ConfigReadMode::SettingsModel).fps, 120);
    EXPECT_EQ(applied_, 1);
}

TEST_F(SettingsViewModelTest, MissingFileIsNoErrorAndTheFirstEditCreatesIt) {
    auto model = makeModel();
    EXPECT_EQ(model->loadError(), "");
    model->setFps(30);
    scheduler_.advanceBy(350ms);
    EXPECT_TRUE(std::filesystem::exists(configPath_));
}

TEST_F(SettingsViewModelTest, PendingSaveIsWrittenBeforeALoadAndAtQuit) {
    writeFile(configPath_, "fps = 48\n");
    auto model = makeModel();
    model->setFps(60);
    model->load();  // would otherwise read 48 back and lose the edit
    EXPECT_EQ(model->fps(), 60);
    EXPECT_EQ(applied_, 1);

    model->setFps(30);
    model.reset();  // quitting: written, but nobody is asked to apply it
    EXPECT_EQ(ConfigReader::read(readFile(configPath_), ConfigReadMode::SettingsModel).fps, 30);
    EXPECT_EQ(applied_, 1);
    EXPECT_EQ(scheduler_.pendingCount(), 0u);
}

TEST_F(SettingsViewModelTest, FailedSaveIsShownAndNotApplied) {
    std::filesystem::create_directory(dir_ / "sub");
    writeFile(dir_ / "sub" / "config.toml", "fps = 48\n");
    auto model = std::make_unique<SettingsViewModel>(scheduler_, &sources_);
    model->setConfigPath((dir_ / "sub" / "config.toml").string());
    model->setOnSettingsChanged([this] { ++applied_; });
    model->load();
    // The folder turns into a file after the load: the save cannot be written.
    std::filesystem::remove_all(dir_ / "sub");
    writeFile(dir_ / "sub", "a file where a folder should be");
    model->setFps(60);
    scheduler_.advanceBy(350ms);
    EXPECT_EQ(applied_, 0);
    EXPECT_TRUE(model->saveError().starts_with("Settings could not be saved: ")) << model->saveError();
    EXPECT_TRUE(log_.back().starts_with("[Corvane] Error saving settings: ")) << log_.back();

    model->setConfigPath(configPath_.string());
    model->setFps(30);
    scheduler_.advanceBy(350ms);
    EXPECT_EQ(model->saveError(), "");
    EXPECT_EQ(applied_, 1);
}

TEST_F(SettingsViewModelTest, ClipsFolderThatCannotBeStoredNeverReachesTheFile) {
    writeFile(configPath_, "output_dir = \"~/Videos/Corvane\"\nfps = 48\n");
    auto model = makeModel();
    std::vector<std::string> followed;
    model->setOnOutputDirSaved([&](const std::string& dir) { followed.push_back(dir); });

    for (const std::string& bad : {std::string("/tmp/x\"\nfps = 1"), std::string("/tmp/a\0b", 8),
                                  std::string("\"/tmp/quoted\""), std::string("/tmp/end\""),
                                  std::string(""), std::string("relative/clips")}) {
        model->setOutputDir(bad);
        EXPECT_NE(model->outputDirProblem(), "") << bad;
        model->setPlaySound(false);  // another edit still saves, with the last good folder
        scheduler_.advanceBy(350ms);
        const ConfigReadResult back = ConfigReader::read(readFile(configPath_), ConfigReadMode::SettingsModel);
        EXPECT_EQ(back.outputDir, "~/Videos/Corvane") << bad;
        EXPECT_EQ(back.fps, 48) << bad;
    }
    EXPECT_TRUE(followed.empty());

    model->setOutputDir("~/Clips \"best\" of");
    EXPECT_EQ(model->outputDirProblem(), "");
    scheduler_.advanceBy(350ms);
    EXPECT_EQ(ConfigReader::read(readFile(configPath_), ConfigReadMode::SettingsModel).outputDir,
              "~/Clips \"best\" of");
    EXPECT_EQ(followed, std::vector<std::string>{"~/Clips \"best\" of"});
}

TEST_F(SettingsViewModelTest, BrowseAbbreviatesOnlyALeadingHomeFolder) {
    auto model = makeModel();
    model->setHomeDirectory("/home/al");
    std::optional<std::string> answer;
    model->setFolderChooser([&] { return answer; });
    const std::pair<std::string, std::string> cases[] = {
        {"/home/al/Videos/clips", "~/Videos/clips"},
        {"/home/al", "~"},
        {"/home/alice/clips", "/home/alice/clips"},
        {"/mnt/home/al/clips", "/mnt/home/al/clips"},
        {"/home/al/backup/home/al", "~/backup/home/al"},
    };
    for (const auto& [chosen, stored] : cases) {
        answer = chosen;
        model->browseFolder();
        EXPECT_EQ(model->outputDir(), stored);
    }
    answer.reset();  // cancelled
    model->browseFolder();
    EXPECT_EQ(model->outputDir(), "~/backup/home/al");
}

// ---------------------------------------------------------------- capture target and sizes

TEST_F(SettingsViewModelTest, ChoosingATargetKeepsTheResolutionConsistent) {
    auto model = makeModel();
    model->setResolution("1080p");
    model->setCaptureTarget("window:4194305");
    EXPECT_EQ(model->windowId(), 0x400001u);
    EXPECT_EQ(model->resolution(), "native");

    model->setResolution("75%");
    model->setCaptureTarget("display:9");
    EXPECT_EQ(model->displayId(), 9u);
    EXPECT_EQ(model->windowId(), 0u);
    EXPECT_EQ(model->resolution(), "native");

    model->setResolution("4k");
    model->setCaptureTarget("display:7");
    EXPECT_EQ(model->resolution(), "4k");

    // "window:none" and garbage ids select no window; the display chosen before stays.
    model->setCaptureTarget("window:none");
    EXPECT_EQ(model->windowId(), 0u);
    EXPECT_EQ(model->displayId(), 7u);
    model->setCaptureTarget("window:12abc");
    EXPECT_EQ(model->windowId(), 0u);
    model->syncCaptureTarget();
    EXPECT_EQ(model->captureTarget(), "display:7");

    model->setCaptureTarget("bogus");
    EXPECT_EQ(model->displayId(), 0u);
}

TEST_F(SettingsViewModelTest, DimensionsBitrateAndLabelsFollowTheTarget) {
    auto model = makeModel();
    model->setCaptureTarget("window:4194305");
    EXPECT_EQ(model->currentDimensions(), (PixelSize{1000, 600}));
    EXPECT_EQ(model->nativeResolutionLabel(), "Window Native (1000x600)");
    model->setResolution("75%");
    EXPECT_EQ(model->currentDimensions(), (PixelSize{750, 450}));
    EXPECT_EQ(model->windowResolutionLabel(0.75), "75% - Balanced (750\u00d7450)");
    EXPECT_EQ(model->windowResolutionLabel(1.0), "100% - Native (1000\u00d7600)");
    model->setResolution("50%");
    EXPECT_EQ(model->currentDimensions(), (PixelSize{500, 300}));

    model->setCaptureTarget("window:5242882");  // the 100 x 100 clock
    EXPECT_EQ(model->currentDimensions(), (PixelSize{64, 64}));

    model->setCaptureTarget("display:9");
    EXPECT_EQ(model->currentDimensions(), (PixelSize{2560, 1440}));
    EXPECT_EQ(model->nativeResolutionLabel(), "Native Display (2560x1440)");
    EXPECT_EQ(model->windowResolutionLabel(0.5), "50% - Light");
    model->setFps(60);
    EXPECT_EQ(model->bitrateKbps(), 18000);
    model->setCaptureTarget("display:0");
    EXPECT_EQ(model->nativeResolutionLabel(), "Native Display (1920x1080)");
    EXPECT_EQ(model->bitrateKbps(), 12000);
    EXPECT_EQ(model->estimatedSize30sDescription(), "~6.6 MB / 30s (~13.1 MB / min)");

    sources_.content.displays.clear();
    model->handleDisplayConfigurationChanged();  // a failed or empty listing falls back to 1080p
    model->setCaptureTarget("display:3");
    EXPECT_EQ(model->currentDimensions(), (PixelSize{1920, 1080}));
}

TEST_F(SettingsViewModelTest, VanishedTargetIsReportedNotDropped) {
    auto model = makeModel();
    model->setCaptureTarget("window:4194305");
    EXPECT_FALSE(model->isCurrentTargetMissing());
    sources_.content.windows.clear();
    model->handleActiveApplicationChanged();
    EXPECT_TRUE(model->isCurrentTargetMissing());
    EXPECT_EQ(model->missingTargetLabel(), "Closed Window (4194305)");
    EXPECT_EQ(model->captureTarget(), "window:4194305");

    model->setCaptureTarget("display:9");
    sources_.content.displays.pop_back();
    model->handleDisplayConfigurationChanged();
    EXPECT_TRUE(model->isCurrentTargetMissing());
    EXPECT_EQ(model->missingTargetLabel(), "Disconnected Display (9)");
    model->setCaptureTarget("display:0");
    EXPECT_FALSE(model->isCurrentTargetMissing());
}

TEST_F(SettingsViewModelTest, WindowListingFailuresKeepTheListAndSayWhy) {
    auto model = makeModel();
    const auto before = model->availableWindows();
    sources_.listError = "X connection lost";
    model->refreshAvailableWindows();
    EXPECT_EQ(model->availableWindows(), before);
    EXPECT_EQ(log_.back(), "[Corvane] Error refreshing available windows: X connection lost");

    sources_.listError.reset();
    sources_.available = false;
    sources_.content.windows.clear();
    const size_t lines = log_.size();
    model->refreshAvailableWindows();
    EXPECT_EQ(model->availableWindows(), before);
    EXPECT_EQ(log_.size(), lines);
}

// ---------------------------------------------------------------- profiles

TEST_F(SettingsViewModelTest, AddingAndRemovingProfiles) {
    auto model = makeModel();
    model->addRecord();
    ASSERT_EQ(model->records().size(), 4u);
    EXPECT_EQ(model->records().back().durationSeconds, 150);
    EXPECT_EQ(model->records().back().hotkey, "Cmd+Shift+4");
    while (model->records().size() < 9) model->addRecord();
    model->addRecord();
    EXPECT_EQ(model->records().back().hotkey, "Ctrl+Shift+R");
    EXPECT_EQ(model->records().back().durationSeconds, 330);
    model->setRecordDuration(model->records().back().id, 100000);
    EXPECT_EQ(model->records().back().durationSeconds, 600);
    model->addRecord();
    EXPECT_EQ(model->records().back().durationSeconds, 600);

    std::vector<RecordItem> one{RecordItem(30, "Cmd+Shift+1")};
    model->setRecords(one);
    model->removeRecord(one[0].id);
    EXPECT_EQ(model->records().size(), 1u);

    model->setRecords({});
    model->addRecord();
    EXPECT_EQ(model->records().back().durationSeconds, 30);
    EXPECT_EQ(model->records().back().hotkey, "Cmd+Shift+1");
}

TEST_F(SettingsViewModelTest, DuplicateShortcutsAreFoundIgnoringCaseAndSpaces) {
    auto model = makeModel();
    model->setRecords({RecordItem(30, "Cmd+Shift+1"), RecordItem(60, "cmd+shift+1"),
                       RecordItem(90, ""), RecordItem(120, ""), RecordItem(150, "Ctrl+ F1"),
                       RecordItem(180, "ctrl+f1"), RecordItem(210, "Cmd+1")});
    model->setRecordHotkey(model->records()[0].id, " Cmd+Shift+1\t");
    EXPECT_EQ(model->duplicateHotkeyErrors(), (std::set<std::string>{"cmd+shift+1", "ctrl+f1"}));
}

// ---------------------------------------------------------------- observers

TEST_F(SettingsViewModelTest, ObserversHearOnceForALoad) {
    writeFile(configPath_, "fps = 30\nresolution = \"720p\"\ndisplay_id = 9\n");
    auto model = makeModel();
    int heard = 0;
    const auto id = model->addObserver([&] { ++heard; });
    model->load();
    EXPECT_EQ(heard, 1);
    model->setFps(60);
    EXPECT_GE(heard, 2);
    model->removeObserver(id);
    const int before = heard;
    model->setFps(30);
    EXPECT_EQ(heard, before);
}

}  // namespace
}  // namespace corvane
