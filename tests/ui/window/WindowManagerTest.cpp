// The main window on a real X server (Xvfb), with time on a ManualScheduler.
#include "ui/window/CorvaneWindowManager.h"

#include <filesystem>
#include <fstream>

#include <QAction>
#include <QApplication>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QTest>

#include <gtest/gtest.h>

#include "core/sched/ManualScheduler.h"
#include "core/settings/SettingsViewModel.h"
#include "support/TempDir.h"
#include "ui/window/CorvaneAppView.h"
#include "ui/window/MainWindow.h"

namespace corvane {
namespace {

using namespace std::chrono_literals;

class WindowManagerTest : public ::testing::Test {
protected:
    void SetUp() override { manager_ = makeManager(); }

    std::unique_ptr<CorvaneWindowManager> makeManager() {
        auto manager = std::make_unique<CorvaneWindowManager>(scheduler_, nullptr);
        manager->setConfigPath((dir_ / "config.toml").string());
        manager->setGeometryFilePath((dir_ / "window-geometry").string());
        manager->setOutputDir((dir_ / "clips").string());
        return manager;
    }

    // showWindow only queues the work; run it.
    void show(CorvaneWindowManager& manager, CorvaneTab tab) {
        manager.showWindow(tab);
        QCoreApplication::processEvents();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(manager.window()));
    }

    QAction* menuAction(const QString& text) {
        for (QAction* menu : manager_->window()->menuBar()->actions())
            for (QAction* item : menu->menu()->actions())
                if (item->text() == text) return item;
        return nullptr;
    }

    test::TempDir dir_;
    ManualScheduler scheduler_;
    std::unique_ptr<CorvaneWindowManager> manager_;
};

TEST_F(WindowManagerTest, WindowIsCreatedOnFirstDemandAndOnlyHiddenWhenClosed) {
    EXPECT_EQ(manager_->window(), nullptr);
    manager_->showWindow(CorvaneTab::settings);
    EXPECT_EQ(manager_->window(), nullptr);  // queued to the event loop, not done inline
    QCoreApplication::processEvents();
    MainWindow* window = manager_->window();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    EXPECT_EQ(manager_->appView()->selectedTab(), CorvaneTab::settings);
    EXPECT_EQ(window->size(), QSize(960, 620));
    EXPECT_EQ(window->minimumSize(), QSize(800, 500));

    int willClose = 0;
    QObject::connect(manager_.get(), &CorvaneWindowManager::windowWillClose, [&] { ++willClose; });
    menuAction(QStringLiteral("Close"))->trigger();
    EXPECT_FALSE(manager_->isWindowVisible());
    EXPECT_EQ(willClose, 1);

    // The same window and view come back, switched to the requested tab.
    CorvaneAppView* view = manager_->appView();
    show(*manager_, CorvaneTab::clips);
    EXPECT_EQ(manager_->window(), window);
    EXPECT_EQ(manager_->appView(), view);
    EXPECT_EQ(view->selectedTab(), CorvaneTab::clips);
    EXPECT_TRUE(manager_->isWindowVisible());

    show(*manager_, CorvaneTab::settings);  // already visible: only the tab changes
    EXPECT_EQ(view->selectedTab(), CorvaneTab::settings);
    EXPECT_EQ(view->findChild<QListWidget*>(QStringLiteral("sidebar"))->currentRow(), 1);
}

TEST_F(WindowManagerTest, TitleFollowsTheRecordingTimeOnlyWhileShown) {
    RecordingPair status{true, 3725};
    manager_->setRecordingStatusProvider([&] { return status; });
    show(*manager_, CorvaneTab::clips);
    QWidget* window = manager_->window();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Corvane - 01:02:05"));
    status.duration = 3726.9;
    scheduler_.advanceBy(999ms);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Corvane - 01:02:05"));
    scheduler_.advanceBy(1ms);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Corvane - 01:02:06"));

    // Minimised: the timer runs on but the title is left alone; restoring updates it at once.
    window->setWindowState(Qt::WindowMinimized);
    ASSERT_TRUE(window->isMinimized());
    status = {false, 0};
    scheduler_.advanceBy(3s);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Corvane - 01:02:06"));
    window->setWindowState(Qt::WindowNoState);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Corvane - Idle"));

    // Closed: the timer stops.
    window->close();
    EXPECT_EQ(scheduler_.pendingCount(), 0u);
    status = {true, 59.9};
    scheduler_.advanceBy(5s);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Corvane - Idle"));
    show(*manager_, CorvaneTab::clips);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Corvane - 00:59"));

    manager_->setRecordingStatusProvider(nullptr);
    scheduler_.advanceBy(1s);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Corvane - Idle"));
}

TEST_F(WindowManagerTest, SizeAndPlaceAreKeptInTheirOwnFile) {
    show(*manager_, CorvaneTab::clips);
    manager_->window()->resize(1100, 700);
    QCoreApplication::processEvents();
    manager_->window()->close();
    ASSERT_TRUE(std::filesystem::exists(dir_ / "window-geometry"));
    EXPECT_FALSE(std::filesystem::exists(dir_ / "config.toml"));  // never in the settings file

    auto next = makeManager();
    show(*next, CorvaneTab::clips);
    EXPECT_EQ(next->window()->size(), QSize(1100, 700));

    // A damaged file is ignored.
    next.reset();
    std::ofstream(dir_ / "window-geometry") << "not geometry\n";
    auto third = makeManager();
    show(*third, CorvaneTab::clips);
    EXPECT_EQ(third->window()->size(), QSize(960, 620));
}

TEST_F(WindowManagerTest, MenusUseStandardKeysAndQuitGoesThroughTheCallback) {
    int quitRequests = 0;
    manager_->setOnQuitRequested([&] { ++quitRequests; });
    manager_->setupMainMenuIfNeeded();  // before the window exists: nothing to do yet
    show(*manager_, CorvaneTab::clips);
    manager_->setupMainMenuIfNeeded();

    QStringList titles;
    for (QAction* menu : manager_->window()->menuBar()->actions()) titles << menu->text();
    EXPECT_EQ(titles, (QStringList{"&Corvane", "&Edit", "&Window"}));
    for (const char* hidden : {"Hide Corvane", "Hide Others", "Show All"}) EXPECT_EQ(menuAction(hidden), nullptr);
    EXPECT_EQ(menuAction("Quit Corvane")->shortcut(), QKeySequence(QKeySequence::Quit));
    EXPECT_EQ(menuAction("Close")->shortcut(), QKeySequence(QKeySequence::Close));
    EXPECT_EQ(menuAction("Minimize")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_M));
    EXPECT_EQ(menuAction("Redo")->shortcut(), QKeySequence(QKeySequence::Redo));
    ASSERT_NE(menuAction("Select All"), nullptr);

    // Ctrl+W closes (hides) the window; Ctrl+Q asks the callback, which owns quitting.
    QTest::keyClick(manager_->window(), Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(quitRequests, 1);
    QTest::keyClick(manager_->window(), Qt::Key_W, Qt::ControlModifier);
    EXPECT_FALSE(manager_->isWindowVisible());
    EXPECT_NE(manager_->window(), nullptr);
}

TEST_F(WindowManagerTest, PendingSettingsAreWrittenOnQuitWithoutApplying) {
    int applied = 0;
    manager_->setOnSettingsChanged([&] { ++applied; });
    show(*manager_, CorvaneTab::settings);
    SettingsViewModel& model = manager_->appView()->settingsModel();
    model.setFps(60);
    EXPECT_TRUE(model.hasPendingSave());
    manager_->setOnQuitRequested([] {});
    menuAction("Quit Corvane")->trigger();
    EXPECT_FALSE(model.hasPendingSave());
    EXPECT_TRUE(std::filesystem::exists(dir_ / "config.toml"));
    EXPECT_EQ(applied, 0);

    // A normal edit is applied after the pause.
    model.setFps(30);
    scheduler_.advanceBy(350ms);
    EXPECT_EQ(applied, 1);
}

TEST_F(WindowManagerTest, ClipsPageFollowsTheSavedFolderAndPausesWhenHidden) {
    std::vector<std::string> folders;
    int reloads = 0, pauses = 0;
    QWidget* created = nullptr;
    manager_->setClipsPage({.create = [&](QWidget* parent) { return created = new QWidget(parent); },
                            .setOutputDir = [&](QWidget* page, const std::string& dir) {
                                EXPECT_EQ(page, created);
                                folders.push_back(dir);
                            },
                            .reload = [&](QWidget*) { ++reloads; },
                            .pause = [&](QWidget*) { ++pauses; }});
    show(*manager_, CorvaneTab::clips);
    EXPECT_EQ(manager_->appView()->clipsPage(), created);
    EXPECT_EQ(folders, std::vector<std::string>{(dir_ / "clips").string()});

    // A folder typed in the settings tab reaches the page once it is saved, not per keystroke.
    manager_->appView()->selectTab(CorvaneTab::settings);
    EXPECT_EQ(pauses, 1);
    SettingsViewModel& model = manager_->appView()->settingsModel();
    model.setOutputDir("/tmp/a");
    model.setOutputDir("/tmp/ab");
    EXPECT_EQ(folders.size(), 1u);
    scheduler_.advanceBy(350ms);
    EXPECT_EQ(folders.back(), "/tmp/ab");

    const int reloadsBefore = reloads;
    manager_->appView()->selectTab(CorvaneTab::clips);
    EXPECT_EQ(reloads, reloadsBefore + 1);
    manager_->window()->setWindowState(Qt::WindowMinimized);
    EXPECT_EQ(pauses, 2);
    manager_->window()->setWindowState(Qt::WindowNoState);
    manager_->window()->close();
    EXPECT_EQ(pauses, 3);
}

TEST_F(WindowManagerTest, OutsideChangesToTheFileReachTheTabBeforeItsNextSave) {
    show(*manager_, CorvaneTab::settings);
    SettingsViewModel& model = manager_->appView()->settingsModel();
    model.setFps(60);
    scheduler_.advanceBy(350ms);
    // Someone edits the file by hand and asks the running program to reload it.
    std::ofstream(dir_ / "config.toml", std::ios::trunc) << "fps = 60\nplay_sound = false\n";
    manager_->reloadSettingsFromFile();
    EXPECT_FALSE(model.playSound());
    model.setRecordAudio(false);
    scheduler_.advanceBy(350ms);
    std::ifstream in(dir_ / "config.toml");
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("play_sound = false"), std::string::npos);
    EXPECT_NE(text.find("fps = 60"), std::string::npos);
}

}  // namespace
}  // namespace corvane
