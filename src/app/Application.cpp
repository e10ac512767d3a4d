#include "app/Application.h"

#include <QApplication>
#include <QCoreApplication>
#include <QMetaObject>

#include <csignal>

#include "app/Banner.h"
#include "app/DesktopBackends.h"
#include "app/QuitSignals.h"
#include "app/Recorder.h"
#include "core/log/Log.h"
#include "media/HardwareAcceleration.h"
#include "media/MediaLogging.h"
#include "platform/sched/QtMainScheduler.h"
#include "platform/session/DisplayAvailability.h"

namespace corvane {

Application::Application(int& argc, char** argv) : argc_(argc), argv_(argv) {}

Application::~Application() = default;

int Application::run() {
    QuitSignalWatcher::installHandlers();
    quietMediaLibraryLogs();

    // Without a back end there is nothing to capture; say so on standard error and keep
    // running (the recorder idles; saves over D-Bus answer with the reason).
    const bool x11DisplayOpens = canOpenX11Display();
    backendChoice_ = chooseBackendForThisSession(x11DisplayOpens);
    // On Wayland Qt picks its native platform by itself (QT_QPA_PLATFORM left alone); the tray
    // icon goes through StatusNotifierItem there.
    hasDisplay_ = backendChoice_.backend == DesktopBackend::wayland ? canOpenWaylandDisplay() || x11DisplayOpens
                                                                    : x11DisplayOpens;
    if (!backendChoice_.warning.empty()) logLine(backendChoice_.warning);
    if (backendChoice_.backend == DesktopBackend::none) {
        std::string text = "[Corvane] Screen capture is not available (" + backendChoice_.reason + ").\n";
        if (!backendChoice_.hint.empty()) text += backendChoice_.hint + "\n";
        writeStderr(text);
    }

    config_ = AppConfig::loadOrCreate();

    createQtApplication();
    scheduler_ = std::make_unique<QtMainScheduler>();
    quitWatcher_ = std::make_unique<QuitSignalWatcher>([this](int signal) { onSignal(signal); });

    if (const std::optional<int> handedOver = startRecorder()) {
        tearDown();
        return *handedOver;
    }
    writeStdout(startupBanner(config_, describeHardwareAcceleration(config_.codec)));
    logLine(recorder_->backendSummary());

    const int status = qtApp_->exec();
    tearDown();
    return status;
}

void Application::tearDown() {
    stopRecorder();
    scheduler_->shutDown();
    quitWatcher_.reset();
    scheduler_.reset();
    qtApp_.reset();
}

void Application::createQtApplication() {
    if (hasDisplay_) {
        auto app = std::make_unique<QApplication>(argc_, argv_);
        // The program lives in the tray: closing its last window must not end it.
        QApplication::setQuitOnLastWindowClosed(false);
        qtApp_ = std::move(app);
    } else {
        // A GUI application would abort inside Qt without a display; a plain event loop still
        // serves timers, D-Bus and the quit path.
        qtApp_ = std::make_unique<QCoreApplication>(argc_, argv_);
    }
}

std::optional<int> Application::startRecorder() {
    recorder_ = std::make_unique<Recorder>(config_, *scheduler_, hasDisplay_, backendChoice_);
    // A second start hands over to the running one (which shows its window) and ends here.
    if (const std::optional<int> status = recorder_->claimInstance()) return status;
    recorder_->start();
    return std::nullopt;
}

void Application::stopRecorder() {
    // Before the scheduler and Qt go away: the engine stops capture (waiting at most 2 s) and
    // lets a running save finish.
    recorder_.reset();
}

void Application::onSignal(int signal) {
    if (signal == SIGHUP) {
        logLine("Reloading the configuration (SIGHUP).");
        if (recorder_) recorder_->reloadConfig();
        return;
    }
    requestQuit();
}

void Application::requestQuit() {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) return;
    // Queued, so that a request made before exec() (or from another thread) still ends the loop.
    QMetaObject::invokeMethod(app, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
}

}  // namespace corvane
