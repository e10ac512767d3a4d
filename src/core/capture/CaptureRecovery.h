#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

#include "core/sched/ThreadChecker.h"
#include "core/capture/CaptureBackend.h"
#include "core/sched/Scheduler.h"

namespace corvane {

// What recovery drives: the live capture's own stop and start. Implemented by CorvaneCapture.
// Every completion arrives on the scheduler's thread (the main thread), inside the call or later.
class RecoverableCapture {
public:
    virtual ~RecoverableCapture() = default;
    virtual bool isRunning() const = 0;
    // A start is queued or under way (the first one or a restart's).
    virtual bool isStartPending() const = 0;
    // Stops the stream; the start that follows keeps the replay buffer when the picture stays
    // the same and empties it otherwise.
    virtual void stopForRestart(std::function<void()> done) = 0;
    virtual void startForRestart(std::function<void(const std::optional<CaptureError>&)> done) = 0;
    // Whether the screen can be reached. A positive answer may be remembered; asking the display
    // server happens off the calling thread.
    virtual void checkAccess(std::function<void(bool reachable)> done) = 0;
};

// Keeps capture alive: the watchdog step, the restart procedure (stop, 0.5 s
// pause, up to five starts 1.5 s apart) and the window-resize debounce.
//
// Scheduler-only: every method runs on the scheduler's thread, every pause is a scheduler task,
// and nothing here blocks. Only one restart runs at a time; one asked for while another runs ends
// the running one at its next step and then runs once. A deliberate stop (sleep, quit) ends a
// restart for good. The capture must outlive this object.
class CaptureRecovery {
public:
    static constexpr Duration kRestartPause = std::chrono::milliseconds(500);
    static constexpr Duration kRetryPause = std::chrono::milliseconds(1500);
    static constexpr Duration kResizeDebounce = std::chrono::milliseconds(500);
    static constexpr int kRestartAttempts = 5;

    CaptureRecovery(Scheduler& scheduler, RecoverableCapture& capture);
    ~CaptureRecovery();
    CaptureRecovery(const CaptureRecovery&) = delete;
    CaptureRecovery& operator=(const CaptureRecovery&) = delete;

    void requestRestart();
    // The watchdog step (every third status tick): restarts a stopped stream unless the system
    // sleeps, a start or restart is under way, or the screen cannot be reached.
    void checkHealth(bool isSystemSleeping);
    // The capture was stopped on purpose: a restart under way ends at its next step (at once
    // when it is pausing) instead of bringing the stream back.
    void noteDeliberateStop();
    // A captured window changed size (WindowResizeDetector said so): one restart 0.5 s after the
    // last of a burst, unless `stillCurrent` says by then that the stream it came from is gone.
    void windowResized(double width, double height, std::function<bool()> stillCurrent);

private:
    ThreadChecker mainThread_;  // the constructing (main) thread
    bool isIdle() const;
    void beginRestart();
    void attemptStart(int attempt);
    void endRestart();
    void pauseThen(Duration delay, std::function<void()> then);
    // Ends a restart's pause at once, as if it had elapsed; the restart then checks why.
    void wakePausedRestart();

    Scheduler& scheduler_;
    RecoverableCapture& capture_;
    bool restarting_ = false;
    bool restartCancelled_ = false;
    bool restartPending_ = false;
    bool accessCheckPending_ = false;
    uint64_t deliberateStops_ = 0;
    uint64_t restartStopMark_ = 0;  // deliberateStops_ when the running restart began
    std::function<void()> pauseContinuation_;
    ScheduledTask pauseTask_;
    ScheduledTask resizeTask_;
    // Completions check it: none arrives after destruction.
    std::shared_ptr<char> alive_ = std::make_shared<char>();
};

// Decides whether a captured window's content size or scale changed enough to rebuild the
// stream: 4.0 units or more on either side, or 0.05 or more of scale. The first report only
// sets the baseline. Not thread-safe; the capture calls it on the video queue under its lock.
class WindowResizeDetector {
public:
    // True when this report is a change (and it becomes the new baseline).
    bool report(double width, double height, std::optional<double> scale);
    void reset();

private:
    std::optional<std::pair<double, double>> lastSize_;
    std::optional<double> lastScale_;
};

}  // namespace corvane
