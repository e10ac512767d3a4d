#pragma once

#include <functional>
#include <memory>
#include <string>

#include <QWidget>

#include "core/settings/DesktopSettingsTraits.h"
#include "core/window/CorvaneTab.h"
#include "ui/window/ClipsPage.h"

class QListWidget;
class QStackedWidget;

namespace corvane {

class ScreenCaptureBackend;
class Executor;
class Scheduler;
class SettingsView;
class SettingsViewModel;

// The main window's content: a sidebar with the two tabs and the page of the selected one. Owns
// the settings model for the window's life, so closing and re-opening keeps every state.
// Main thread.
class CorvaneAppView final : public QWidget {
    Q_OBJECT

public:
    // `sourcesWorker` lists displays and windows for the settings tab, off the main thread.
    CorvaneAppView(Scheduler& scheduler, ScreenCaptureBackend* captureSources, Executor& sourcesWorker,
                   ClipsPage clipsPage, CorvaneTab initialTab, QWidget* parent = nullptr,
                   DesktopSettingsTraits desktop = {});
    ~CorvaneAppView() override;

    void selectTab(CorvaneTab tab);
    CorvaneTab selectedTab() const { return selectedTab_; }

    // The view comes on screen: hands the paths and the change callback to the pages, then
    // (re)loads the settings.
    void appear(const std::string& outputDir, const std::string& configPath,
                std::function<void()> onSettingsChanged);
    // The window closes or minimises.
    void pausePreview();
    // The clips folder the page lists; a folder it already lists changes nothing.
    void setClipsFolder(const std::string& outputDir);

    SettingsViewModel& settingsModel() { return *settingsModel_; }
    SettingsView& settingsView() { return *settingsView_; }
    QWidget* clipsPage() const { return clipsWidget_; }

private:
    void onTabChanged(int row);

    std::unique_ptr<SettingsViewModel> settingsModel_;
    ClipsPage clipsPage_;
    QWidget* clipsWidget_ = nullptr;
    SettingsView* settingsView_ = nullptr;
    QListWidget* sidebar_ = nullptr;
    QStackedWidget* pages_ = nullptr;
    CorvaneTab selectedTab_;
    std::string clipsFolder_;
};

}  // namespace corvane
