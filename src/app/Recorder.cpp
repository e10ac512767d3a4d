#include "app/Recorder.h"

#include <QDBusConnection>
#include <QDesktopServices>
#include <QUrl>

#include <cstdlib>
#include <string>

#include "app/Application.h"
#include "app/DesktopBackends.h"
#include "app/DesktopFileManager.h"
#include "app/LibraryBackends.h"
#include "core/capture/CorvaneCapture.h"
#include "core/config/ConfigFile.h"
#include "core/engine/CorvaneEngine.h"
#include "core/export/LeftoverClipFiles.h"
#include "core/log/Log.h"
#include "core/services/ClipSavedAnnouncer.h"
#include "media/CorvaneEncoder.h"
#include "media/CorvaneExporter.h"
#include "media/audio/AacAudioEncoder.h"
#include "platform/dbus/DbusNotifier.h"
#include "platform/events/LinuxSystemEvents.h"
#include "platform/instance/ControlService.h"
#include "platform/instance/SingleInstance.h"
#include "platform/sched/QtMainScheduler.h"
#include "platform/sound/PulseChimePlayer.h"
#include "platform/wayland/PortalScreenCapture.h"
#include "ui/keybind/ShortcutRecorderEnvironment.h"
#include "ui/library/ClipLibrary.h"
#include "ui/library/ClipsView.h"  // ClipLibrary.h holds a QPointer to it
#include "ui/tray/CorvaneUI.h"
#include "ui/window/CorvaneWindowManager.h"

namespace corvane {
namespace {


}  // namespace

// Declaration order is construction order; destruction runs backwards, so the engine (last)
// goes first and the notifier (with the file manager its actions use) last.
struct Recorder::Parts {
    Parts(const AppConfig& config, QtMainScheduler& scheduler, bool withWidgets,
          const BackendChoice& choice)
        : scheduler(scheduler),
          chime(std::make_shared<PulseChimePlayer>()),
          exporter(files),
          backends(makeDesktopBackends(choice, scheduler)) {
        if (withWidgets) {
            // The saved clip's notification: "Open" in the default player, "Show in Files".
            notifier.setClipActions(
                {.open = [](const std::string& path) {
                     if (!QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path))))
                         logLine("Could not open " + path + " in a player");
                 },
                 .showInFiles = [this](const std::string& path) { fileManager.revealFile(path); }});
            libraryBackends = std::make_unique<LibraryBackends>(files);
            library = std::make_unique<ClipLibrary>(scheduler, libraryBackends->parts(), &announcer, chime.get());
            windowManager = std::make_unique<CorvaneWindowManager>(scheduler, backends.screen.get());
            windowManager->setDesktopSettingsTraits(desktopSettingsTraits());
            windowManager->setClipsPage(library->page());
        }

        EngineDependencies deps{scheduler, exporter, notifier};
        deps.makeCapture = [this](const CaptureSettings& settings,
                                  std::shared_ptr<CorvaneRingBuffer> ringBuffer)
            -> std::unique_ptr<CaptureControl> {
            return std::make_unique<CorvaneCapture>(
                settings, std::move(ringBuffer),
                CorvaneCapture::Dependencies{*backends.screen, backends.audio.get(), encoders,
                                             this->scheduler, nullptr, &audioEncoders});
        };
        deps.makeHotkeyBackend = [this] { return std::move(backends.hotkeys); };
        deps.makeTray = [this, withWidgets]() -> std::unique_ptr<TrayMenu> {
            if (!withWidgets) return std::make_unique<NoTrayMenu>();
            auto tray = std::make_unique<CorvaneUI>();
            tray->onOpenMainWindow = [this] {
                if (windowManager) windowManager->showWindow(CorvaneTab::clips);
            };
            return tray;
        };
        deps.systemEvents = &events;
        deps.windowHost = windowManager.get();
        deps.clipSavedAnnouncer = &announcer;
        deps.savedChime = chime.get();
        deps.terminateApplication = [] { Application::requestQuit(); };
        // Every quit path stops the engine (its destructor too): a pending screen-sharing
        // dialog is given up first, so the capture's stop and the process end do not wait on it.
        deps.abandonPendingStarts = [this] {
            if (backends.portalScreen) backends.portalScreen->abandonRequests();
        };
        engine = std::make_unique<CorvaneEngine>(config, std::move(deps));
        if (withWidgets) {
            installShortcutRecorderEnvironment({backends.keyboardLayout.get(), &engine->hotkeys()});
        }
        if (windowManager) windowManager->setOnQuitRequested([this] { quit(); });
        control.setHandlers(controlHandlers());
    }

    ~Parts() {
        control.setHandlers({});
        if (windowManager) windowManager->setOnQuitRequested(nullptr);
        installShortcutRecorderEnvironment({});  // before the hotkeys and the layout go
        engine.reset();
    }

    // What the settings tab shows for this desktop: the portal's dialog picks the screen (and
    // "Choose Again" forgets that choice and restarts capture, which asks again); keys bound in
    // the desktop's settings where the program can bind none.
    DesktopSettingsTraits desktopSettingsTraits() {
        DesktopSettingsTraits traits;
        traits.keysBoundInDesktopSettings = backends.keysBoundInDesktopSettings;
        if (backends.portalScreen) {
            traits.captureTarget = CaptureTargetKind::systemDialog;
            traits.chooseCaptureAgain = [this] {
                backends.portalScreen->chooseAgain();
                if (engine) engine->capture().restart();
            };
        }
        return traits;
    }

    // The file changed outside the settings tab: the tab re-reads it (writing its own pending
    // edit first), then the engine applies it.
    ConfigReloadOutcome reloadConfig() {
        if (windowManager) windowManager->reloadSettingsFromFile();
        return engine->reloadConfigAndApply();
    }

    void quit() {
        engine->stop();
        Application::requestQuit();
    }

    ControlHandlers controlHandlers() {
        ControlHandlers h;
        h.showWindow = [this](CorvaneTab tab) {
            if (windowManager) windowManager->showWindow(tab);
        };
        h.saveClip = [this](double seconds, std::function<void(SaveClipOutcome)> done) {
            engine->requestClip(seconds, [done = std::move(done)](const ClipSaveOutcome& o) {
                done(SaveClipOutcome{o.ok, o.ok ? o.path : o.reason, o.note});
            });
        };
        h.reloadConfig = [this] {
            const ConfigReloadOutcome outcome = reloadConfig();
            return ReloadConfigOutcome{outcome.applied, outcome.reason};
        };
        h.getStatus = [this] {
            const CorvaneStatus s = engine->getStatus();
            return ControlStatus{s.isRecording, s.bufferDurationSeconds,
                                 int64_t(s.memoryUsageBytes), engine->isSavingClip()};
        };
        return h;
    }

    QtMainScheduler& scheduler;
    DesktopFileManager fileManager;  // before the notifier, whose actions use it
    DbusNotifier notifier;
    std::shared_ptr<PulseChimePlayer> chime;
    LocalClipFiles files;  // the exporter's and the library's
    CorvaneExporter exporter;
    FfmpegVideoEncoderFactory encoders;
    AacAudioEncoderFactory audioEncoders;
    DesktopBackends backends;  // its hotkey back end moves into the engine
    LinuxSystemEvents events;
    ClipSavedAnnouncer announcer;
    ControlService control;
    std::unique_ptr<LibraryBackends> libraryBackends;  // goes after the library that uses them
    std::unique_ptr<ClipLibrary> library;  // its view lives in the window: goes after it
    std::unique_ptr<CorvaneWindowManager> windowManager;
    std::unique_ptr<CorvaneEngine> engine;
};

Recorder::Recorder(const AppConfig& config, QtMainScheduler& scheduler, bool withWidgets,
                   const BackendChoice& choice)
    : parts_(std::make_unique<Parts>(config, scheduler, withWidgets, choice)) {}

std::string Recorder::backendSummary() const { return parts_->backends.summary(); }

Recorder::~Recorder() = default;

std::optional<int> Recorder::claimInstance() {
    const InstanceClaim claim = claimSingleInstance(parts_->control);
    if (!claim.message.isEmpty()) logLine(claim.message.toStdString());
    if (claim.role == InstanceRole::handedOver) {
        writeStdout("Corvane is already running; showing its window.\n");
        return 0;
    }
    if (claim.role == InstanceRole::failed) return 1;
    ownsClipsFolder_ = claim.role == InstanceRole::primary;
    return std::nullopt;
}

void Recorder::removeLeftoversOfEarlierRuns() {
    // Without the bus name another Corvane may be saving into the same folder right now.
    if (!ownsClipsFolder_) return;
    const std::string folder = expandTilde(parts_->engine->outputDir());
    const std::vector<std::string> removed = removeLeftoverTemporaryClips(folder);
    for (const std::string& name : removed) {
        logLine("Removed " + name + ", an unfinished clip left in " + folder + " by an earlier run.");
    }
}

void Recorder::start() {
    if (parts_->backends.screenName == "X11" && isWaylandSession()) {
        logLine("Wayland session: capture and global shortcuts only reach X11 (XWayland) windows.");
    }
    removeLeftoversOfEarlierRuns();
    parts_->engine->start();
    if (parts_->windowManager) {
        CorvaneWindowManager* window = parts_->windowManager.get();
        parts_->scheduler.post([window] { window->showWindow(CorvaneTab::clips); });
    }
}

void Recorder::quit() { parts_->quit(); }

void Recorder::reloadConfig() { parts_->reloadConfig(); }

}  // namespace corvane
