// The main window on a real X server (Xvfb), with time on a ManualScheduler.
#include "ui/window/CorvaneWindowManager.h"

#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

#include "core/sched/ManualScheduler.h"
#include "core/settings/SettingsViewModel.h"
#include "support/TempDir.h"
#include "support/TextFiles.h"
#include "ui/window/CorvaneAppView.h"
#include "ui/window/MainWindow.h"

namespace corvane {
namespace {

using namespace std::chrono_literals;

class WindowManagerTest : public ::testing::Test {
protected:
    std::unique_ptr<CorvaneWindowManager> makeManager() {
        auto manager = std::make_unique<CorvaneWindowManager>(scheduler_, nullptr);
        manager->setConfigPath((dir_ / "config.toml").string());
        manager->setGeometryFilePath((dir_ / "window-geometry").string());
        manager->setOutputDir((dir_ / "clips").string());
        return manager;
    }
    // showWindow only queues the work; run it.
    static void show(CorvaneWindowManager& manager, CorvaneTab tab) {
        manager.showWindow(tab);
        QCoreApplication::processEvents();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(manager.window()));
    }
    SettingsViewModel& model() { return manager_->appView()->settingsModel(); }

    test::TempDir dir_;
    ManualScheduler scheduler_;
    std::unique_ptr<CorvaneWindowManager> manager_ = makeManager();
};

TEST_F(WindowManagerTest, WindowIsCreatedOnFirstDemandTitledWithTheRecordingTimeAndOnlyHiddenWhenClosed) {
    RecordingPair status{true, 3725};
    manager_->setRecordingStatusProvider([&] { return status; });
    manager_->showWindow(CorvaneTab::settings);
    EXPECT_EQ(manager_->window(), nullptr);  // queued to the event loop, not done inline
    QCoreApplication::processEvents();
    MainWindow* window = manager_->window();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    EXPECT_EQ(manager_->appView()->selectedTab(), CorvaneTab::settings);
    // The title follows the recording time, once a second while shown.
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Corvane - 01:02:05"));
    status.duration = 3726.9;
    scheduler_.advanceBy(999ms);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Corvane - 01:02:05"));
    scheduler_.advanceBy(1ms);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Corvane - 01:02:06"));

    int willClose = 0;
    QObject::connect(manager_.get(), &CorvaneWindowManager::windowWillClose, [&] { ++willClose; });
    QTest::keyClick(window, Qt::Key_W, Qt::ControlModifier);
    EXPECT_FALSE(manager_->isWindowVisible());
    EXPECT_EQ(willClose, 1);
    EXPECT_EQ(scheduler_.pendingCount(), 0u) << "the title's timer stops";

    // The same window comes back, switched to the requested tab.
    show(*manager_, CorvaneTab::clips);
    EXPECT_EQ(manager_->window(), window);
    EXPECT_EQ(manager_->appView()->selectedTab(), CorvaneTab::clips);

    // Ctrl+, (the key the tray menu shows) goes to the settings. A window's keys only work once it
    // is active again, which a busy X server may take a moment to report.
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    QTest::keyClick(window, Qt::Key_Comma, Qt::ControlModifier);
    EXPECT_EQ(manager_->appView()->selectedTab(), CorvaneTab::settings);
}

TEST_F(WindowManagerTest, SizeIsKeptInItsOwnFileAndADamagedFileIsIgnored) {
    show(*manager_, CorvaneTab::clips);
    manager_->window()->resize(1100, 700);
    QCoreApplication::processEvents();
    manager_->window()->close();
    EXPECT_FALSE(std::filesystem::exists(dir_ / "config.toml"));  // never in the settings file
    manager_ = makeManager();
    show(*manager_, CorvaneTab::clips);
    EXPECT_EQ(manager_->window()->size(), QSize(1100, 700));

    manager_.reset();
    test::writeTextFile(dir_ / "window-geometry", "not geometry\n");
    manager_ = makeManager();
    show(*manager_, CorvaneTab::clips);
    EXPECT_EQ(manager_->window()->size(), QSize(960, 620));
}

// Also run at Qt scale 2 (tests/CMakeLists.txt), where a 1920x1080 screen has 960x540 logical
// pixels: less than the window's usual size. The first opening and a restored size from a larger
// screen both stay inside the screen's available area, title bar included.
TEST_F(WindowManagerTest, WindowIsFittedIntoTheScreensAvailableArea) {
    const QString scale = qEnvironmentVariable("QT_SCALE_FACTOR");
    show(*manager_, CorvaneTab::clips);
    MainWindow* window = manager_->window();
    if (!scale.isEmpty()) {
        EXPECT_DOUBLE_EQ(window->devicePixelRatio(), scale.toDouble());
    }
    const QRect area = window->screen()->availableGeometry();
    EXPECT_TRUE(area.contains(window->frameGeometry()));

    // A size and place kept on a larger screen.
    window->setGeometry(area.x() - 200, area.y() - 150, area.width() + 400, area.height() + 300);
    QCoreApplication::processEvents();
    window->close();
    manager_ = makeManager();
    show(*manager_, CorvaneTab::clips);
    EXPECT_TRUE(area.contains(manager_->window()->frameGeometry()));
}

TEST_F(WindowManagerTest, QuitKeyWritesPendingSettingsWithoutApplyingThenAsksTheCallback) {
    int applied = 0, quitRequests = 0;
    manager_->setOnSettingsChanged([&] { ++applied; });
    manager_->setOnQuitRequested([&] { ++quitRequests; });
    show(*manager_, CorvaneTab::settings);
    model().setFps(60);
    QTest::keyClick(manager_->window(), Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(quitRequests, 1);
    EXPECT_FALSE(model().hasPendingSave());
    EXPECT_NE(test::readTextFile(dir_ / "config.toml").find("fps = 60"), std::string::npos);
    EXPECT_EQ(applied, 0);
}

TEST_F(WindowManagerTest, ClipsPageFollowsTheSavedFolderAndPausesWhenHidden) {
    std::vector<std::string> folders;
    int reloads = 0, pauses = 0;
    manager_->setClipsPage({.create = [&](QWidget* parent) { return new QWidget(parent); },
                            .setOutputDir = [&](QWidget*, const std::string& dir) { folders.push_back(dir); },
                            .reload = [&](QWidget*) { ++reloads; },
                            .pause = [&](QWidget*) { ++pauses; }});
    show(*manager_, CorvaneTab::clips);
    EXPECT_EQ(folders, std::vector<std::string>{(dir_ / "clips").string()});

    // A folder typed in the settings tab reaches the page once it is saved, not per keystroke.
    manager_->appView()->selectTab(CorvaneTab::settings);
    EXPECT_EQ(pauses, 1);
    model().setOutputDir("/tmp/a");
    model().setOutputDir("/tmp/ab");
    scheduler_.advanceBy(350ms);
    EXPECT_EQ(folders.back(), "/tmp/ab");
    EXPECT_EQ(folders.size(), 2u);

    reloads = 0;
    manager_->appView()->selectTab(CorvaneTab::clips);
    EXPECT_EQ(reloads, 1);

    // A folder changed outside the tab (ReloadConfig, SIGHUP after a hand edit): the engine
    // hands it over and the open page lists it at once, where the next clips are saved. The
    // tab's next save keeps the hand edit.
    test::writeTextFile(dir_ / "config.toml", "output_dir = \"/tmp/outside\"\nplay_sound = false\n");
    manager_->reloadSettingsFromFile();
    manager_->setOutputDir("/tmp/outside");
    EXPECT_EQ(folders.back(), "/tmp/outside");
    model().setRecordAudio(false);
    scheduler_.advanceBy(350ms);
    EXPECT_NE(test::readTextFile(dir_ / "config.toml").find("play_sound = false"), std::string::npos);
    manager_->window()->close();
    EXPECT_EQ(pauses, 2);
    manager_->setOutputDir("/tmp/outside");  // the same folder again: nothing to redo
    EXPECT_EQ(folders.size(), 3u);
}

}  // namespace
}  // namespace corvane
