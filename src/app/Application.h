#pragma once

#include <memory>
#include <optional>

#include "core/backends/BackendChoice.h"
#include "core/config/AppConfig.h"

class QCoreApplication;

namespace corvane {

class QtMainScheduler;
class QuitSignalWatcher;
class Recorder;

// A normal start of the program, on the main thread: display preflight and the choice of desktop
// back end, configuration, the Qt application, the recorder, the banner and the line naming the
// back ends, then the event loop until quit.
//
// Quitting: SIGINT, SIGTERM or requestQuit() end the event loop; run() then stops the recorder
// (stopRecorder) while the Qt application, the scheduler and the display connection still exist,
// and only then tears Qt down. The recorder's parts are created in startRecorder(), before the
// banner, while the event loop is not running yet; their main-thread work goes through
// scheduler().
class Application {
public:
    // `argc`/`argv` must outlive the object (Qt keeps references to them).
    Application(int& argc, char** argv);
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // Runs until quit; returns the process exit status (0 after a signal or requestQuit).
    int run();

    // Ends the event loop soon after; any thread. Does nothing before run() has created the Qt
    // application.
    static void requestQuit();

    // Valid during run().
    QtMainScheduler& scheduler() { return *scheduler_; }
    const AppConfig& config() const { return config_; }
    bool hasDisplay() const { return hasDisplay_; }

private:
    void createQtApplication();
    // The exit status when another running Corvane took over (this process then ends).
    std::optional<int> startRecorder();
    void stopRecorder();
    // Recorder first, then the scheduler, the quit watcher and Qt, in that order.
    void tearDown();
    void onSignal(int signal);

    int& argc_;
    char** argv_;
    AppConfig config_;
    bool hasDisplay_ = false;  // a QApplication can be made (widgets, tray)
    BackendChoice backendChoice_;
    std::unique_ptr<QCoreApplication> qtApp_;
    std::unique_ptr<QtMainScheduler> scheduler_;
    std::unique_ptr<QuitSignalWatcher> quitWatcher_;
    std::unique_ptr<Recorder> recorder_;
};

}  // namespace corvane
