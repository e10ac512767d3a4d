#include "ui/window/CorvaneWindowManager.h"

#include <QAction>
#include <QApplication>
#include <QByteArray>
#include <QFile>
#include <QIcon>
#include <QGuiApplication>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMetaObject>
#include <QPointer>
#include <QScreen>
#include <QStyle>

#include <algorithm>

#include "core/config/AppConfig.h"
#include "core/config/ConfigFile.h"
#include "core/log/Log.h"
#include "core/settings/SettingsViewModel.h"
#include "core/window/WindowTitle.h"
#include "ui/window/CorvaneAppView.h"
#include "ui/window/MainWindow.h"

namespace corvane {

namespace {

constexpr QSize kContentSize(960, 620);
constexpr QSize kMinimumSize(800, 500);

// The editing commands go to whichever widget has the keyboard focus, as a menu's standard
// editing commands would; widgets without the slot ignore them.
void sendToFocusWidget(const char* slot) {
    if (QWidget* focus = QApplication::focusWidget()) QMetaObject::invokeMethod(focus, slot);
}

// The available area (without panels) of the screen at `point`, else of the primary screen.
QRect availableAreaAround(QPoint point) {
    QScreen* screen = QGuiApplication::screenAt(point);
    if (!screen) screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect(QPoint(), kContentSize);
}

}  // namespace

CorvaneWindowManager::CorvaneWindowManager(Scheduler& scheduler, ScreenCaptureBackend* captureSources,
                                           QObject* parent)
    : QObject(parent),
      scheduler_(scheduler),
      captureSources_(captureSources),
      outputDir_(AppConfig().outputDir),
      configPath_(AppConfig::configFilePath()),
      geometryPath_(homeDirectory() + "/.config/corvane/window-geometry") {
    if (QCoreApplication* app = QCoreApplication::instance()) {
        connect(app, &QCoreApplication::aboutToQuit, this, [this] {
            flushPendingSettings();
            if (window_ && window_->isVisible()) saveGeometry();
        });
    }
}

CorvaneWindowManager::~CorvaneWindowManager() {
    titleTimer_.cancel();
    if (window_ && window_->isVisible()) saveGeometry();
    delete window_;  // takes the view and the settings model (which writes a pending save) with it
}

void CorvaneWindowManager::setOutputDir(const std::string& outputDir) {
    outputDir_ = outputDir;
    if (appView_) appView_->setClipsFolder(outputDir);
}

void CorvaneWindowManager::showWindow(CorvaneTab tab) {
    QPointer<CorvaneWindowManager> self(this);
    QMetaObject::invokeMethod(
        this, [self, tab] { if (self) self->showWindowNow(tab); }, Qt::QueuedConnection);
}

void CorvaneWindowManager::showWindowNow(CorvaneTab tab) {
    setupMainMenuIfNeeded();
    if (!window_) {
        createWindow(tab);
        return;
    }
    const bool wasHidden = !window_->isVisible();
    appView_->selectTab(tab);
    if (wasHidden) {
        appView_->appear(outputDir_, configPath_, [this] { if (onSettingsChanged_) onSettingsChanged_(); });
    }
    bringToFront();
    startTitleTimer();
}

void CorvaneWindowManager::createWindow(CorvaneTab tab) {
    window_ = new MainWindow({.willClose = [this] { handleWillClose(); },
                              .minimized = [this] { emit windowWillClose(); appView_->pausePreview(); },
                              .restored = [this] { startTitleTimer(); }});
    window_->setObjectName(QStringLiteral("CorvaneMainWindow"));
    window_->setWindowTitle(QStringLiteral("Corvane"));
    // The installed theme icon; from a build tree, the tray picture built into the program.
    QIcon icon = QIcon::fromTheme(QStringLiteral("corvane"));
    if (icon.isNull() && QFile::exists(QStringLiteral(":/corvane/menubar_icon.png")))
        icon = QIcon(QStringLiteral(":/corvane/menubar_icon.png"));
    if (!icon.isNull()) window_->setWindowIcon(icon);
    // On a small or highly scaled screen (1080p at scale 2 is 960x540 logical pixels) the usual
    // sizes do not fit; they give way, leaving room for the window manager's frame.
    const QRect area = availableAreaAround(QPoint());
    const QSize room(area.width() * 9 / 10, area.height() * 9 / 10);
    window_->setMinimumSize(kMinimumSize.boundedTo(room));
    const QSize size = kContentSize.boundedTo(room);
    window_->resize(size);
    window_->move(area.center() - QPoint(size.width() / 2, size.height() / 2));
    restoreGeometry();

    appView_ = new CorvaneAppView(scheduler_, captureSources_, sourcesQueue_, clipsPage_, tab, window_, desktopTraits_);
    window_->setCentralWidget(appView_);
    buildMenus();
    appView_->appear(outputDir_, configPath_, [this] { if (onSettingsChanged_) onSettingsChanged_(); });
    bringToFront();
    startTitleTimer();
}

void CorvaneWindowManager::bringToFront() {
    if (window_->isMinimized()) {
        window_->showNormal();
    } else {
        window_->show();
    }
    window_->raise();
    window_->activateWindow();
}

void CorvaneWindowManager::handleWillClose() {
    stopTitleTimer();
    saveGeometry();
    emit windowWillClose();
    appView_->pausePreview();
}

bool CorvaneWindowManager::isWindowVisible() const { return window_ && window_->isVisible(); }

// ---- Title ----

void CorvaneWindowManager::startTitleTimer() {
    titleTimer_.cancel();
    updateWindowTitle();
    titleTimer_.startRepeating(scheduler_, kTitleInterval, [this] { updateWindowTitle(); });
}

void CorvaneWindowManager::stopTitleTimer() { titleTimer_.cancel(); }

void CorvaneWindowManager::updateWindowTitle() {
    if (!window_ || !window_->isVisible() || window_->isMinimized()) return;
    std::optional<RecordingPair> status;
    if (getRecordingStatus_) status = getRecordingStatus_();
    const QString title = QString::fromStdString(mainWindowTitle(status));
    if (window_->windowTitle() != title) window_->setWindowTitle(title);
}

// ---- Menus ----

void CorvaneWindowManager::setupMainMenuIfNeeded() {
    if (window_ && !menuBar_) buildMenus();
}

void CorvaneWindowManager::buildMenus() {
    if (menuBar_ || !window_) return;
    menuBar_ = window_->menuBar();

    QMenu* app = menuBar_->addMenu(QStringLiteral("&Corvane"));
    app->addAction(QStringLiteral("About Corvane"), this, [this] {
        QMessageBox::about(window_, QStringLiteral("About Corvane"),
                           QStringLiteral("Corvane %1\nInstant replay screen recorder for Linux.")
                               .arg(QStringLiteral("1.0.0")));
    });
    // Ctrl+, is the settings key the tray menu shows beside "Preferences & Clips...".
    QAction* settings = app->addAction(QStringLiteral("Settings..."), this,
                                       [this] { appView_->selectTab(CorvaneTab::settings); });
    settings->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    settings->setObjectName(QStringLiteral("settingsAction"));
    app->addSeparator();
    QAction* quit = app->addAction(QStringLiteral("Quit Corvane"), this, [this] {
        flushPendingSettings();
        if (onQuitRequested_) {
            onQuitRequested_();
        } else {
            QCoreApplication::quit();
        }
    });
    quit->setShortcut(QKeySequence::Quit);
    quit->setObjectName(QStringLiteral("quitAction"));

    QMenu* edit = menuBar_->addMenu(QStringLiteral("&Edit"));
    const struct {
        const char* text;
        const char* slot;
        QKeySequence::StandardKey key;
    } editItems[] = {
        {"Undo", "undo", QKeySequence::Undo},   {"Redo", "redo", QKeySequence::Redo},
        {nullptr, nullptr, QKeySequence::UnknownKey},
        {"Cut", "cut", QKeySequence::Cut},      {"Copy", "copy", QKeySequence::Copy},
        {"Paste", "paste", QKeySequence::Paste}, {"Select All", "selectAll", QKeySequence::SelectAll},
    };
    for (const auto& item : editItems) {
        if (!item.text) {
            edit->addSeparator();
            continue;
        }
        QAction* action = edit->addAction(QString::fromLatin1(item.text), this,
                                          [slot = item.slot] { sendToFocusWidget(slot); });
        action->setShortcut(item.key);
        // The focused text field handles these keys itself; the menu items are for the mouse.
        action->setShortcutContext(Qt::WidgetShortcut);
    }

    QMenu* windowMenu = menuBar_->addMenu(QStringLiteral("&Window"));
    QAction* close = windowMenu->addAction(QStringLiteral("Close"), window_, &QWidget::close);
    close->setShortcut(QKeySequence::Close);
    close->setObjectName(QStringLiteral("closeAction"));
    QAction* minimize = windowMenu->addAction(QStringLiteral("Minimize"), window_, &QWidget::showMinimized);
    minimize->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));
}

// ---- Geometry ----

void CorvaneWindowManager::restoreGeometry() {
    if (!window_ || geometryPath_.empty()) return;
    const FileReadResult file = readUtf8File(geometryPath_);
    if (!file.ok()) return;
    const QByteArray bytes = QByteArray::fromBase64(QByteArray::fromStdString(file.text).trimmed());
    // A damaged file is ignored: the window keeps its default size and place.
    if (bytes.isEmpty() || !window_->restoreGeometry(bytes)) return;
    // Kept on another screen (larger, or less scaled): brought inside this one's area, with the
    // title bar on screen.
    const QRect frame = window_->frameGeometry();
    const QRect area = availableAreaAround(frame.center());
    const QSize frameExtra = frame.size() - window_->size();
    const QSize size = window_->size().boundedTo(area.size() - frameExtra);
    if (size != window_->size()) window_->resize(size);
    const QSize frameSize = size + frameExtra;
    const int x = std::clamp(frame.x(), area.left(), std::max(area.left(), area.right() + 1 - frameSize.width()));
    const int y = std::clamp(frame.y(), area.top(), std::max(area.top(), area.bottom() + 1 - frameSize.height()));
    if (QPoint(x, y) != frame.topLeft()) window_->move(x, y);  // a top-level's pos() is its frame's
}

void CorvaneWindowManager::saveGeometry() {
    if (!window_ || geometryPath_.empty()) return;
    const std::string text = window_->saveGeometry().toBase64().toStdString() + "\n";
    const FileWriteResult written = writeFileAtomically(geometryPath_, text);
    if (!written.ok) logLine("Could not keep the window's size and place: " + written.error);
}

void CorvaneWindowManager::reloadSettingsFromFile() {
    if (appView_) appView_->settingsModel().load();
}

void CorvaneWindowManager::flushPendingSettings() {
    if (appView_) appView_->settingsModel().flushPendingSave(SettingsViewModel::ApplyAfterFlush::no);
}

}  // namespace corvane
