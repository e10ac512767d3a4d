#pragma once

#include <memory>
#include <optional>

#include <string>

#include "core/backends/BackendChoice.h"
#include "core/config/AppConfig.h"

namespace corvane {

class QtMainScheduler;

// Every real part of the running recorder, plugged together: the desktop back ends of the
// start-up choice (screen capture, system audio, global shortcuts), the FFmpeg encoder and
// exporter, D-Bus notifications and control, system events, the
// confirmation chime, the tray item, the main window and the engine that drives them.
//
// Main thread. Created after the Qt application and the scheduler, destroyed before them: the
// engine goes first (capture stopped, a running save finished), then the window and the back
// ends, so nothing outlives the X and D-Bus connections it uses.
class Recorder {
public:
    // withWidgets: a QApplication exists (there is a display), so the tray and the window can be
    // built; otherwise the recorder runs without them.
    // choice: the desktop back end to build (DesktopBackends.h).
    Recorder(const AppConfig& config, QtMainScheduler& scheduler, bool withWidgets,
             const BackendChoice& choice);
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // Becomes the session's one running Corvane. When another one runs, it is asked to show its
    // window and the exit status for this process comes back (0 when it answered, 1 when not).
    std::optional<int> claimInstance();
    // Removes unfinished clip files an earlier run left in the clips folder (only when this
    // process owns the bus name), starts the engine and queues the opening of the main window.
    void start();
    // The engine's quit path: stop, then end the event loop.
    void quit();
    // SIGHUP: apply the configuration file again.
    void reloadConfig();
    // The start-up log line naming the back ends in use.
    std::string backendSummary() const;

private:
    void removeLeftoversOfEarlierRuns();

    struct Parts;
    std::unique_ptr<Parts> parts_;
    bool ownsClipsFolder_ = false;  // claimInstance() made this the session's one Corvane
};

}  // namespace corvane
