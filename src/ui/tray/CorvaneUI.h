#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/services/TrayMenu.h"
#include "ui/tray/TrayIconArt.h"

class QAction;
class QMenu;
class QSystemTrayIcon;

namespace corvane {

// The tray item and its menu: a header, "Preferences & Clips...", the save command of every
// recording profile, the buffer line, the clips folder, the capture-unavailable line and quit.
// The item shows the recorder's state in its tooltip and icon (a tray item has no title text).
// A left click on the item opens the main window, as "Preferences & Clips..." does; the menu
// opens on the right button.
//
// GUI thread only. The item is shown whether or not a tray host exists at that moment: Qt
// embeds it when a host appears later (common when the program autostarts before the panel).
class CorvaneUI final : public QObject, public TrayMenu {
    Q_OBJECT
public:
    static inline const QString kDefaultTooltip = QStringLiteral("Corvane - Instant Replay Recorder");

    explicit CorvaneUI(QObject* parent = nullptr);
    ~CorvaneUI() override;

    void setCallbacks(TrayCallbacks callbacks) override { callbacks_ = std::move(callbacks); }
    void setOutputDir(const std::string& outputDir) override { outputDir_ = outputDir; }
    void setConfigPath(const std::string& configPath) override { configPath_ = configPath; }
    void setupMenubar(const std::vector<RecordItem>& records) override;
    void updateRecords(const std::vector<RecordItem>& records) override;
    void updateUI() override;
    void setSavingClip(bool saving) override { isSavingClip_ = saving; }

    // "Preferences & Clips...": the app connects it to the main window (clips tab). Unset, the
    // command does nothing.
    std::function<void()> onOpenMainWindow;
    // Opens a folder in the file manager; replaceable for tests. Default: the desktop's handler.
    std::function<bool(const QString& folder)> openFolder;

    // For tests and the app.
    QMenu* menu() const { return menu_.get(); }
    QSystemTrayIcon* trayIcon() const { return trayIcon_.get(); }
    TrayIconState iconState() const { return iconState_; }
    const std::string& outputDir() const { return outputDir_; }
    const std::string& configPath() const { return configPath_; }

    void actionOpenUI();
    void actionTriggerClip(double seconds);
    void actionOpenFolder();
    void actionQuit();

private:
    void setIconState(TrayIconState state);

    TrayCallbacks callbacks_;
    std::string outputDir_ = "~/Videos/Corvane";
    std::string configPath_;
    bool isSavingClip_ = false;
    TrayIconArt art_;
    TrayIconState iconState_ = TrayIconState::Idle;

    std::unique_ptr<QMenu> menu_;
    std::unique_ptr<QSystemTrayIcon> trayIcon_;
    QAction* bufferStatusItem_ = nullptr;     // owned by menu_
    QAction* permissionMenuItem_ = nullptr;   // owned by menu_
    QAction* recordsSeparatorItem_ = nullptr; // owned by menu_
    std::vector<QAction*> clipMenuItems_;     // owned by menu_
};

}  // namespace corvane
