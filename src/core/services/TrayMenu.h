#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/config/AppConfig.h"
#include "core/status/CorvaneStatus.h"

namespace corvane {

// What the tray item asks of the engine. Each runs on the main thread.
struct TrayCallbacks {
    std::function<void(double seconds)> onClipRequested;  // a profile command was chosen
    std::function<CorvaneStatus()> getStatusHandler;      // read on every refresh
    std::function<void()> onQuitRequested;                // "Quit Corvane"
};

// The tray item with its menu: save commands per profile, the buffer line, the clips folder,
// the main window and quit. Main thread only. Before setupMenubar() nothing is visible;
// updateUI() then only reads the status and updateRecords() does nothing.
class TrayMenu {
public:
    virtual ~TrayMenu() = default;
    virtual void setCallbacks(TrayCallbacks callbacks) = 0;
    virtual void setOutputDir(const std::string& outputDir) = 0;  // may begin with "~"
    virtual void setConfigPath(const std::string& configPath) = 0;
    // Builds the item and its menu. Called once, and only when the tray is wanted.
    virtual void setupMenubar(const std::vector<RecordItem>& records) = 0;
    // Replaces the profile commands.
    virtual void updateRecords(const std::vector<RecordItem>& records) = 0;
    // Re-reads the status and refreshes the tooltip, the icon and the buffer line.
    virtual void updateUI() = 0;
    // True while a clip is being written; the caller follows each change with updateUI().
    virtual void setSavingClip(bool saving) = 0;
};

// Stands in for the tray when there are no widgets (no display): the recorder still saves clips
// on request over D-Bus and notifies, it just shows nothing.
class NoTrayMenu final : public TrayMenu {
public:
    void setCallbacks(TrayCallbacks) override {}
    void setOutputDir(const std::string&) override {}
    void setConfigPath(const std::string&) override {}
    void setupMenubar(const std::vector<RecordItem>&) override {}
    void updateRecords(const std::vector<RecordItem>&) override {}
    void updateUI() override {}
    void setSavingClip(bool) override {}
};

}  // namespace corvane
