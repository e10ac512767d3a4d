#include "ui/tray/CorvaneUI.h"

#include <QAction>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QKeySequence>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QUrl>

#include "core/config/ConfigFile.h"
#include "core/shortcuts/ShortcutNotation.h"
#include "core/time/WholeSeconds.h"

namespace corvane {
namespace {

// Menus read "&" as the mark of a keyboard mnemonic; the texts mean the character itself.
QString menuText(QString text) { return text.replace(QLatin1Char('&'), QStringLiteral("&&")); }

QString profileTitle(const RecordItem& record) {
    std::string title = "Save last " + record.readableTitle();
    if (!record.hotkey.empty()) title += " (" + displayString(record.hotkey) + ")";
    return menuText(QString::fromStdString(title));
}

}  // namespace

CorvaneUI::CorvaneUI(QObject* parent) : QObject(parent) {
    openFolder = [](const QString& folder) {
        return QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
    };
}

CorvaneUI::~CorvaneUI() {
    if (trayIcon_) trayIcon_->hide();
}

void CorvaneUI::setupMenubar(const std::vector<RecordItem>& records) {
    if (menu_) return;  // built once per run
    menu_ = std::make_unique<QMenu>();

    QAction* header = menu_->addAction(QStringLiteral("Corvane"));
    header->setEnabled(false);
    QAction* preferences = menu_->addAction(menuText(QStringLiteral("Preferences & Clips...")));
    preferences->setShortcut(QKeySequence(QStringLiteral("Ctrl+,")));
    connect(preferences, &QAction::triggered, this, [this] { actionOpenUI(); });
    menu_->addSeparator();
    recordsSeparatorItem_ = menu_->addSeparator();
    bufferStatusItem_ = menu_->addAction(QStringLiteral("Replay Buffer: Initializing..."));
    bufferStatusItem_->setEnabled(false);
    QAction* openFolderItem = menu_->addAction(QStringLiteral("Open Clips Folder..."));
    connect(openFolderItem, &QAction::triggered, this, [this] { actionOpenFolder(); });
    // X11 has no permission to grant: the line only says that the screen cannot be reached.
    permissionMenuItem_ = menu_->addAction(QStringLiteral("Screen Capture Unavailable"));
    permissionMenuItem_->setEnabled(false);
    permissionMenuItem_->setVisible(false);
    menu_->addSeparator();
    QAction* quit = menu_->addAction(QStringLiteral("Quit Corvane"));
    quit->setShortcut(QKeySequence::Quit);
    connect(quit, &QAction::triggered, this, [this] { actionQuit(); });
    connect(menu_.get(), &QMenu::aboutToShow, this, [this] { updateUI(); });

    trayIcon_ = std::make_unique<QSystemTrayIcon>();
    trayIcon_->setIcon(art_.icon(iconState_));
    trayIcon_->setToolTip(kDefaultTooltip);
    trayIcon_->setContextMenu(menu_.get());
    // Linux trays open the program's window on a left click; the menu stays on the right button.
    connect(trayIcon_.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger) actionOpenUI();
            });
    trayIcon_->show();

    updateRecords(records);
    updateUI();
}

void CorvaneUI::updateRecords(const std::vector<RecordItem>& records) {
    if (!menu_) return;
    for (QAction* item : clipMenuItems_) {
        menu_->removeAction(item);
        item->deleteLater();
    }
    clipMenuItems_.clear();
    for (const RecordItem& record : records) {
        auto* item = new QAction(profileTitle(record), menu_.get());
        const double seconds = double(record.durationSeconds);
        item->setData(seconds);
        connect(item, &QAction::triggered, this, [this, seconds] { actionTriggerClip(seconds); });
        // Inserting before the separator keeps the commands in list order directly above it.
        menu_->insertAction(recordsSeparatorItem_, item);
        clipMenuItems_.push_back(item);
    }
}

void CorvaneUI::updateUI() {
    if (!callbacks_.getStatusHandler) return;
    const CorvaneStatus status = callbacks_.getStatusHandler();
    const std::string seconds = std::to_string(truncatedClamped(status.bufferDurationSeconds));
    const std::string audioNote = status.systemAudioLost ? ", system audio lost" : "";

    if (permissionMenuItem_) permissionMenuItem_->setVisible(!status.hasPermission);
    if (bufferStatusItem_) {
        bufferStatusItem_->setText(
            status.isRecording
                ? QString::fromStdString("Replay Buffer: Active (" + seconds + "s ready" + audioNote + ")")
                : QStringLiteral("Replay Buffer: Idle"));
    }
    if (!trayIcon_) return;

    QString tooltip;
    TrayIconState state;
    if (!status.hasPermission) {
        tooltip = QStringLiteral("Corvane - Screen capture unavailable");
        state = TrayIconState::Unavailable;
    } else if (isSavingClip_) {
        tooltip = QStringLiteral("Corvane - Saving clip to disk");
        state = TrayIconState::Saving;
    } else if (status.isRecording) {
        tooltip = QString::fromStdString("Corvane - Recording active (" + seconds + "s buffered" + audioNote + ")");
        state = TrayIconState::Recording;
    } else {
        tooltip = QStringLiteral("Corvane - Capture stream idle or sleeping");
        state = TrayIconState::Idle;
    }
    if (trayIcon_->toolTip() != tooltip) trayIcon_->setToolTip(tooltip);
    setIconState(state);
}

void CorvaneUI::setIconState(TrayIconState state) {
    if (state == iconState_ && !trayIcon_->icon().isNull()) return;
    iconState_ = state;
    trayIcon_->setIcon(art_.icon(state));
}

void CorvaneUI::actionOpenUI() {
    if (onOpenMainWindow) onOpenMainWindow();
}

void CorvaneUI::actionTriggerClip(double seconds) {
    if (callbacks_.onClipRequested) callbacks_.onClipRequested(seconds);
}

void CorvaneUI::actionOpenFolder() {
    const std::string folder = expandTilde(outputDir_);
    createFolders(folder);  // a failure is ignored: the file manager says what is wrong
    if (openFolder) openFolder(QString::fromStdString(folder));
}

void CorvaneUI::actionQuit() {
    if (callbacks_.onQuitRequested) {
        callbacks_.onQuitRequested();
    } else {
        QCoreApplication::quit();
    }
}

}  // namespace corvane
