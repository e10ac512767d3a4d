#include "app/Application.h"

#include <QApplication>
#include <QCoreApplication>
#include <QMetaObject>

#include "app/Banner.h"
#include "app/QuitSignals.h"
#include "core/log/Log.h"
#include "media/HardwareAcceleration.h"
#include "platform/sched/QtMainScheduler.h"
#include "platform/session/DisplayAvailability.h"

namespace corvane {

Application::Application(int& argc, char** argv) : argc_(argc), argv_(argv) {}

Application::~Application() = default;

int Application::run() {
    QuitSignalWatcher::installHandlers();

    // Without an X display there is nothing to capture; say so on standard error and keep
    // running (the recorder idles and the display may come back through the watchdog).
    hasDisplay_ = canOpenX11Display();
    if (!hasDisplay_) {
        writeStderr("[Corvane] Screen capture is not available (cannot open the X display).\n"
                    "Set DISPLAY or start Corvane inside a desktop session.\n");
    }

    config_ = AppConfig::loadOrCreate();

    createQtApplication();
    scheduler_ = std::make_unique<QtMainScheduler>();
    quitWatcher_ = std::make_unique<QuitSignalWatcher>([](int) { requestQuit(); });

    startRecorder();
    writeStdout(startupBanner(config_, describeHardwareAcceleration(config_.codec == "hevc")));

    const int status = qtApp_->exec();

    stopRecorder();
    scheduler_->shutDown();
    quitWatcher_.reset();
    scheduler_.reset();
    qtApp_.reset();
    return status;
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

void Application::startRecorder() {
    // The replay engine and its user interface are created and started here, on the main
    // thread, with config_ and scheduler(); the event loop starts right after the banner.
}

void Application::stopRecorder() {
    // The engine is stopped and destroyed here, before the scheduler and Qt go away.
}

void Application::requestQuit() {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) return;
    // Queued, so that a request made before exec() (or from another thread) still ends the loop.
    QMetaObject::invokeMethod(app, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
}

}  // namespace corvane
