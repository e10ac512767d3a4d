#pragma once

#include <functional>
#include <optional>
#include <string>

#include <QObject>

#include "core/sched/Scheduler.h"
#include "core/sched/SerialQueue.h"
#include "core/services/MainWindowHost.h"
#include "core/settings/DesktopSettingsTraits.h"
#include "core/window/CorvaneTab.h"
#include "ui/window/ClipsPage.h"

class QMenuBar;

namespace corvane {

class CorvaneAppView;
class MainWindow;
class ScreenCaptureBackend;

// Owns the program's one main window: creates it on first demand, shows it again after it was
// closed (it is only hidden, so tabs, models and selections survive), keeps its title on the
// recording time, keeps its size and place between runs in a file of its own, and gives it the
// menu bar. Closing the window never ends the program.
//
// Main thread (the thread of `scheduler`), except showWindow(), which any thread may call.
// Callbacks are called on the main thread and may be set at any time.
class CorvaneWindowManager final : public QObject, public MainWindowHost {
    Q_OBJECT

public:
    static constexpr Duration kTitleInterval = std::chrono::seconds(1);

    // `captureSources` lists displays and windows for the settings tab (may be null); it must
    // outlive the manager.
    CorvaneWindowManager(Scheduler& scheduler, ScreenCaptureBackend* captureSources,
                         QObject* parent = nullptr);
    ~CorvaneWindowManager() override;

    // MainWindowHost (what the engine fills in).
    // Also when the folder changed outside the settings tab: an open clips page follows at once.
    void setOutputDir(const std::string& outputDir) override;
    void setConfigPath(const std::string& configPath) override { configPath_ = configPath; }
    void setOnSettingsChanged(std::function<void()> callback) override { onSettingsChanged_ = std::move(callback); }
    void setRecordingStatusProvider(std::function<RecordingPair()> provider) override {
        getRecordingStatus_ = std::move(provider);
    }
    void setupMainMenuIfNeeded() override;
    void updateWindowTitle() override;

    // "Quit Corvane" in the window's menu. Unset: the Qt event loop is asked to quit.
    void setOnQuitRequested(std::function<void()> callback) { onQuitRequested_ = std::move(callback); }
    // The clip library page; must be set before the window is first shown.
    void setClipsPage(ClipsPage page) { clipsPage_ = std::move(page); }
    // How this desktop picks the capture target and binds keys, for the settings tab; must be
    // set before the window is first shown.
    void setDesktopSettingsTraits(DesktopSettingsTraits traits) { desktopTraits_ = std::move(traits); }
    // Where the window's size and place are kept (default ~/.config/corvane/window-geometry).
    void setGeometryFilePath(std::string path) { geometryPath_ = std::move(path); }

    // Shows the window on `tab`, creating it the first time. Any thread; the work is queued to
    // the main thread.
    void showWindow(CorvaneTab tab);

    bool isWindowVisible() const;
    void startTitleTimer();
    void stopTitleTimer();

    // Writes a pending settings change now without asking the engine to apply it: for the quit
    // path, where the engine is stopping. Also done on QCoreApplication::aboutToQuit.
    void flushPendingSettings();

    // The configuration file was changed outside the tab (ReloadConfig over the bus, SIGHUP): the
    // tab re-reads it, so a later edit in the tab cannot write stale values over the change. A
    // pending edit of the tab is written first. Nothing happens before the window exists.
    void reloadSettingsFromFile();

    // For tests and the app's wiring; null until the window was first shown.
    MainWindow* window() const { return window_; }
    CorvaneAppView* appView() const { return appView_; }

signals:
    // The window is closing or minimising: previews should pause.
    void windowWillClose();

private:
    void showWindowNow(CorvaneTab tab);
    void createWindow(CorvaneTab tab);
    void bringToFront();
    void handleWillClose();
    void buildMenus();
    void restoreGeometry();
    void saveGeometry();

    Scheduler& scheduler_;
    ScreenCaptureBackend* captureSources_;
    // Lists displays and windows for the settings tab (X round trips). Destroyed after the
    // window and its settings model, finishing a listing that runs.
    SerialQueue sourcesQueue_{"settings-sources"};
    std::string outputDir_;
    std::string configPath_;
    std::string geometryPath_;
    std::function<void()> onSettingsChanged_;
    std::function<RecordingPair()> getRecordingStatus_;
    std::function<void()> onQuitRequested_;
    ClipsPage clipsPage_;
    DesktopSettingsTraits desktopTraits_;

    MainWindow* window_ = nullptr;  // owned here (no parent); deleted with the manager
    CorvaneAppView* appView_ = nullptr;
    QMenuBar* menuBar_ = nullptr;
    ScheduledTask titleTimer_;
};

}  // namespace corvane
