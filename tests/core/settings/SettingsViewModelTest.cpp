#include "core/settings/SettingsViewModel.h"

#include <gtest/gtest.h>

#include <sstream>

#include "core/config/ConfigReader.h"
#include "core/settings/LoginAutostart.h"
#include "core/sched/ManualScheduler.h"
#include "support/CaptureFakes.h"
#include "support/CaptureLogLines.h"
#include "support/TempDir.h"
#include "support/TextFiles.h"

namespace corvane {
namespace {

using namespace std::literals;
using namespace corvane::test;

class SettingsViewModelTest : public ::testing::Test {
protected:
    SettingsViewModelTest() {
        sources_.content.displays = {{7, "HDMI-1", 0, 0, 1920, 1080, true}, {9, "DP-2", 1920, 0, 2560, 1440, false}};
        sources_.content.windows = {{0x400001, "Notes", "editor", 0, 0, 1000, 600, 1.0},
                                    {0x500002, "", "xclock", 0, 0, 100, 100, 1.0}};
    }

    // A model on `path` (the temp config file unless given), loaded, with the change callback counted.
    std::unique_ptr<SettingsViewModel> makeModel(const std::filesystem::path& path = {},
                                                 DesktopSettingsTraits desktop = {}) {
        // The lists are made on the scheduler too here: runDue() brings them.
        auto model = std::make_unique<SettingsViewModel>(scheduler_, &sources_, scheduler_, std::move(desktop));
        model->setConfigPath((path.empty() ? configPath_ : path).string());
        model->setOnSettingsChanged([this] { ++applied_; });
        model->load();
        scheduler_.runDue();
        return model;
    }
    ConfigReadResult saved() const { return ConfigReader::read(readTextFile(configPath_), ConfigReadMode::SettingsModel); }

    TempDir dir_;
    std::filesystem::path configPath_ = dir_ / "config.toml";
    ManualScheduler scheduler_;
    FakeScreen sources_;
    LogCapture log_;
    int applied_ = 0;
};

TEST_F(SettingsViewModelTest, BurstOfEditsIsSavedAndApplied350msAfterTheLastEditAndNotLostAtQuit) {
    auto model = makeModel();
    model->setFps(60);
    scheduler_.advanceBy(200ms);
    model->setPlaySound(false);
    scheduler_.advanceBy(349ms);
    EXPECT_FALSE(std::filesystem::exists(configPath_));  // a missing file is created by the first save
    scheduler_.advanceBy(1ms);
    EXPECT_EQ(applied_, 1);
    EXPECT_EQ(log_.lines().back(), "[Corvane] Settings auto-saved to " + configPath_.string());
    EXPECT_EQ(saved().fps, 60);
    scheduler_.advanceBy(5s);  // nothing more is saved or applied

    model->setFps(48);
    model->load();  // a pending save is written first; otherwise the load would lose the edit
    EXPECT_EQ(model->fps(), 48);
    EXPECT_EQ(applied_, 2);
    model->setFps(30);
    model.reset();  // quitting: written, but nobody is asked to apply it
    EXPECT_EQ(saved().fps, 30);
    EXPECT_EQ(applied_, 2);
}

TEST_F(SettingsViewModelTest, LoadingNeverSavesAndKeepsWhatTheFileSays) {
    const std::string file = "fps = 30\nwindow_id = 4194305\nresolution = \"1080p\"\nclip_60s = \"Cmd+F2\"\n";
    writeTextFile(configPath_, file);
    auto model = makeModel();
    scheduler_.advanceBy(10s);
    EXPECT_EQ(readTextFile(configPath_), file);
    EXPECT_EQ(applied_, 0);
    // The target was built from the ids without the window rule resetting the resolution.
    EXPECT_EQ(model->captureTarget(), "window:4194305");
    EXPECT_EQ(model->resolution(), "1080p");
    EXPECT_EQ(model->records()[1].hotkey, "Cmd+F2");  // no profiles: the older key fills in
}

// What the settings form writes, its comment lines left aside.
TEST_F(SettingsViewModelTest, SavedFileHoldsEveryKeyInOrderWithTheRulesApplied) {
    writeTextFile(configPath_,
              "fps = 60\nbitrate_kbps = 50000\nresolution = \"1080p\"\nmax_buffer_seconds = 20\n"
              "output_dir = \"/data/clips\"\nshow_menubar = false\ncodec = \"hevc\"\n"
              "[[records]]\nduration = 2\nhotkey = \"opt+ctrl+f9\"\n[[records]]\nduration = 120\nhotkey = \"\"\n"
              "[[records]]\nduration = 30\nhotkey = \"Cmd+Foo\"\n");
    auto model = makeModel();
    model->setCaptureTarget("display:9");
    scheduler_.advanceBy(350ms);
    std::istringstream written(readTextFile(configPath_));
    std::string values;
    for (std::string line; std::getline(written, line);)
        if (!line.empty() && line[0] != '#') values += line + "\n";
    // The file's bitrate gives way to the one computed for 1080p at 60 fps; shortcuts that read
    // are written the program's way, others as they were.
    EXPECT_EQ(values,
              "fps = 60\nbitrate_kbps = 12000\nresolution = \"1080p\"\nmax_buffer_seconds = 130.0\n"
              "output_dir = \"/data/clips\"\nrecord_audio = true\nplay_sound = true\nshow_menubar = true\n"
              "display_id = 9\nwindow_id = 0\n[[records]]\nduration = 5\nhotkey = \"Ctrl+Alt+F9\"\n"
              "[[records]]\nduration = 120\nhotkey = \"\"\n[[records]]\nduration = 30\nhotkey = \"Cmd+Foo\"\n");
}

TEST_F(SettingsViewModelTest, FailedLoadStopsSavingOverTheFileAndFailedSaveIsShownNotApplied) {
    const std::string unreadable = "fps = 30\n\xff\xfe broken\n";
    writeTextFile(configPath_, unreadable);
    auto model = makeModel();
    EXPECT_NE(model->loadError().find("Could not read " + configPath_.string()), std::string::npos);
    model->setFps(120);
    scheduler_.advanceBy(2s);
    EXPECT_EQ(readTextFile(configPath_), unreadable);
    EXPECT_EQ(applied_, 0);

    // The file reads again, but its folder turns into a file before the save.
    std::filesystem::create_directory(dir_ / "sub");
    model->setConfigPath((dir_ / "sub" / "config.toml").string());
    model->load();
    std::filesystem::remove(dir_ / "sub");
    writeTextFile(dir_ / "sub", "a file where a folder should be");
    model->setFps(60);
    scheduler_.advanceBy(350ms);
    EXPECT_EQ(applied_, 0);
    EXPECT_TRUE(model->saveError().starts_with("Settings could not be saved: ")) << model->saveError();
    EXPECT_TRUE(log_.lines().back().starts_with("[Corvane] Error saving settings: ")) << log_.lines().back();

    model->setConfigPath(configPath_.string());  // saving resumes once the file can be written
    model->setFps(30);
    scheduler_.advanceBy(350ms);
    EXPECT_EQ(model->saveError(), "");
    EXPECT_EQ(applied_, 1);
}

TEST_F(SettingsViewModelTest, ClipsFolderThatCannotBeStoredNeverReachesTheFileAndBrowsingAbbreviatesHome) {
    writeTextFile(configPath_, "output_dir = \"~/Videos/Corvane\"\nfps = 48\n");
    std::vector<std::string> followed;  // outlives the model, whose last save at quit reports to it
    auto model = makeModel();
    model->setOnOutputDirSaved([&](const std::string& dir) { followed.push_back(dir); });
    for (const std::string& bad :
         {"/tmp/x\"\nfps = 1"s, "/tmp/a\0b"s, "\"/tmp/quoted\""s, "/tmp/end\""s, ""s, "relative/clips"s}) {
        model->setOutputDir(bad);
        model->setPlaySound(false);  // another edit still saves, with the last good folder
        scheduler_.advanceBy(350ms);
        EXPECT_EQ(saved().outputDir, "~/Videos/Corvane") << bad;
        EXPECT_EQ(saved().fps, 48) << bad;
    }
    model->setOutputDir("~/Clips \"best\" of");
    scheduler_.advanceBy(350ms);
    EXPECT_EQ(saved().outputDir, "~/Clips \"best\" of");
    EXPECT_EQ(followed, std::vector<std::string>{"~/Clips \"best\" of"});

    // Browsing writes only a leading home folder as "~".
    model->setHomeDirectory("/home/al");
    std::optional<std::string> answer;
    model->setFolderChooser([&] { return answer; });
    for (const auto& [chosen, stored] : {std::pair{"/home/al/V", "~/V"}, {"/home/alice/c", "/home/alice/c"},
                                         {"/mnt/home/al/c", "/mnt/home/al/c"}, {"/home/al/b/home/al", "~/b/home/al"}}) {
        answer = chosen;
        model->browseFolder();
        EXPECT_EQ(model->outputDir(), stored);
    }
    answer.reset();  // cancelled
    model->browseFolder();
    EXPECT_EQ(model->outputDir(), "~/b/home/al");
}

TEST_F(SettingsViewModelTest, ChoosingATargetKeepsTheResolutionConsistent) {
    auto model = makeModel();
    // resolution before, target chosen -> display id, window id, resolution after
    const std::tuple<std::string, std::string, uint32_t, uint32_t, std::string> steps[] = {
        {"1080p", "window:4194305", 0, 0x400001, "native"},  // presets do not apply to windows
        {"75%", "display:9", 9, 0, "native"},                // nor scales to displays
        {"native", "window:none", 9, 0, "native"},  {"native", "window:12abc", 9, 0, "native"},  // no window
        {"4k", "display:7", 7, 0, "4k"},            {"4k", "bogus", 0, 0, "4k"},
    };
    for (const auto& [before, target, display, window, after] : steps) {
        model->setResolution(before);
        model->setCaptureTarget(target);
        EXPECT_EQ(std::tuple(model->displayId(), model->windowId(), model->resolution()),
                  std::tuple(display, window, after)) << target;
    }
}

TEST_F(SettingsViewModelTest, DimensionsAndBitrateFollowTheTarget) {
    auto model = makeModel();
    model->setCaptureTarget("window:5242882");
    model->setResolution("50%");  // of the 100 x 100 clock: never below 64
    EXPECT_EQ(model->currentDimensions(), (PixelSize{64, 64}));
    model->setCaptureTarget("display:9");
    model->setFps(60);
    EXPECT_EQ(model->bitrateKbps(), 18000);
    model->setCaptureTarget("display:0");
    // The encoder gets 12000 kbps at 1920x1080@60, and the clip 192 kbps of AAC: the estimate
    // rests on those rates, not on a fraction of them.
    EXPECT_EQ(model->bitrateKbps(), 12000);
    EXPECT_EQ(model->estimatedSize30sDescription(), "~45.7 MB / 30s (~91.4 MB / min)");
    model->setRecordAudio(false);
    EXPECT_EQ(model->estimatedSize30sDescription(), "~45 MB / 30s (~90 MB / min)");
    sources_.content.displays.clear();
    model->handleDisplayConfigurationChanged();  // a failed or empty listing falls back to 1080p
    scheduler_.runDue();
    model->setCaptureTarget("display:3");
    EXPECT_EQ(model->currentDimensions(), (PixelSize{1920, 1080}));
}

TEST_F(SettingsViewModelTest, VanishedTargetIsReportedNotDroppedAndListingFailuresKeepTheList) {
    auto model = makeModel();
    model->setCaptureTarget("display:9");
    sources_.content.displays.pop_back();
    model->handleDisplayConfigurationChanged();
    scheduler_.runDue();
    EXPECT_EQ(model->missingTargetLabel(), "Disconnected Display (9)");
    EXPECT_EQ(model->captureTarget(), "display:9");

    const auto before = model->availableWindows();
    sources_.listError = "X connection lost";
    model->refreshCaptureSources();
    scheduler_.runDue();
    EXPECT_EQ(model->availableWindows(), before);
    EXPECT_EQ(log_.lines().back(), "[Corvane] Error refreshing available windows: X connection lost");
}

// Where the desktop's dialog picks the screen: nothing is listed (listing would open a
// screen-sharing session) and the stored ids stay as they are. (Choosing again and the shortcuts
// hint are clicked in tests/ui/settings.)
TEST_F(SettingsViewModelTest, SystemDialogTargetListsNothingAndKeepsTheIds) {
    writeTextFile(configPath_, "display_id = 9\nwindow_id = 4194305\nresolution = \"75%\"\n");
    auto portal = makeModel({}, {CaptureTargetKind::systemDialog, [] {}, true});
    EXPECT_EQ(sources_.listings, 0);
    EXPECT_TRUE(portal->availableWindows().empty());
    EXPECT_FALSE(portal->isCurrentTargetMissing());
    EXPECT_FALSE(portal->offersWindowScales());
    portal->setFps(60);
    scheduler_.advanceBy(1s);
    EXPECT_EQ(std::tuple(saved().displayId, saved().windowId, saved().fps),
              std::tuple(std::optional<uint32_t>(9), std::optional<uint32_t>(4194305), std::optional<int64_t>(60)));
    auto listed = makeModel({}, {CaptureTargetKind::listedSources, [] {}, false});
    EXPECT_GT(sources_.listings, 0);
    EXPECT_TRUE(listed->offersWindowScales());
}

// The autostart entry's Exec line starts the running program, quoted and escaped as desktop
// entries require; the launcher entry's other lines stay. (Writing and removing the entry is
// clicked for real in tests/ui/settings.)
TEST(LoginAutostartTest, EntryStartsTheGivenProgramWithItsPathEscaped) {
    const std::string launcher = "[Desktop Entry]\nName=Corvane\nExec=corvane\nIcon=corvane\n";
    for (const auto& [program, exec] : std::initializer_list<std::pair<const char*, const char*>>{
             {"/usr/bin/corvane", "Exec=/usr/bin/corvane"},
             {"/opt/my apps/corvane", "Exec=\"/opt/my apps/corvane\""},
             {"/a$b\\c/100%/corvane", "Exec=\"/a\\\\$b\\\\\\\\c/100%%/corvane\""}}) {
        EXPECT_EQ(LoginAutostart::entryText(launcher, program),
                  "[Desktop Entry]\nName=Corvane\n" + std::string(exec) + "\nIcon=corvane\n")
            << program;
    }
}

TEST_F(SettingsViewModelTest, ListsAreMadeOnTheWorkerOneListingAtATime) {
    ManualScheduler worker;
    SettingsViewModel model(scheduler_, &sources_, worker);
    int published = 0;
    model.addObserver([&] { ++published; });
    model.handleActiveApplicationChanged();  // while the first listing is queued
    model.handleDisplayConfigurationChanged();
    scheduler_.runDue();
    EXPECT_EQ(sources_.listings, 0);  // nothing on the main thread
    EXPECT_TRUE(model.availableDisplays().empty());

    worker.runDue();
    EXPECT_EQ(sources_.listings, 1);
    scheduler_.runDue();
    EXPECT_EQ(model.availableDisplays().size(), 2u);
    EXPECT_EQ(model.availableWindows().size(), 2u);
    EXPECT_EQ(published, 1);
    // The requests made meanwhile come to one more listing, which finds nothing new.
    EXPECT_TRUE(model.isListingSources());
    worker.runDue();
    scheduler_.runDue();
    EXPECT_EQ(sources_.listings, 2);
    EXPECT_FALSE(model.isListingSources());
    EXPECT_EQ(published, 1);

    // A result that comes back after the model is gone is dropped.
    auto gone = std::make_unique<SettingsViewModel>(scheduler_, &sources_, worker);
    worker.runDue();
    gone.reset();
    EXPECT_EQ(scheduler_.runDue(), 1);
}

TEST_F(SettingsViewModelTest, DuplicateShortcutsAreFoundWhateverTheirSpellingButNotEmptyOnes) {
    auto model = makeModel();
    model->setRecords({RecordItem(30, "Cmd+Shift+1"), RecordItem(60, "shift+super+1"), RecordItem(90, ""),
                       RecordItem(120, ""), RecordItem(150, "Ctrl+ F1"), RecordItem(180, "ctrl+f1"),
                       RecordItem(210, "Ctrl+Foo"), RecordItem(240, "ctrl + foo"), RecordItem(270, "Opt+F2")});
    EXPECT_EQ(model->duplicateHotkeyErrors(),
              (std::set<std::string>{"super+shift+1", "ctrl+f1", "ctrl+foo"}));
}

}  // namespace
}  // namespace corvane
