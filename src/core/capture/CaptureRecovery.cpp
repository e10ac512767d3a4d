#include "core/capture/CaptureRecovery.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "core/log/Log.h"

namespace corvane {
namespace {

constexpr double kSizeThreshold = 4.0;
constexpr double kScaleThreshold = 0.05;

}  // namespace

CaptureRecovery::CaptureRecovery(Scheduler& scheduler, RecoverableCapture& capture)
    : scheduler_(scheduler), capture_(capture) {}

CaptureRecovery::~CaptureRecovery() {
    alive_.reset();
    pauseTask_.cancel();
    resizeTask_.cancel();
}

bool CaptureRecovery::isIdle() const {
    return !capture_.isRunning() && !restarting_ && !capture_.isStartPending();
}

void CaptureRecovery::checkHealth(bool isSystemSleeping) {
    mainThread_.assertOnOwnerThread("CaptureRecovery::checkHealth");
    if (isSystemSleeping || accessCheckPending_ || !isIdle()) return;
    accessCheckPending_ = true;
    const uint64_t stopMark = deliberateStops_;
    std::weak_ptr<char> alive = alive_;
    capture_.checkAccess([this, alive, stopMark](bool reachable) {
        if (alive.expired()) return;
        accessCheckPending_ = false;
        // No access: nothing at all, not even a message (no prompting every 3 s). A stop on
        // purpose or a recovery that began while the answer was on its way wins.
        if (!reachable || stopMark != deliberateStops_ || !isIdle()) return;
        logLine("Watchdog: Stream is idle. Triggering auto-recovery...");
        requestRestart();
    });
}

void CaptureRecovery::requestRestart() {
    mainThread_.assertOnOwnerThread("CaptureRecovery::requestRestart");
    if (!restarting_) {
        beginRestart();
        return;
    }
    // The running restart ends at its next step; this one runs when it has.
    restartCancelled_ = true;
    restartPending_ = true;
    wakePausedRestart();
}

void CaptureRecovery::noteDeliberateStop() {
    ++deliberateStops_;
    if (restarting_) wakePausedRestart();
}

void CaptureRecovery::windowResized(double width, double height, std::function<bool()> stillCurrent) {
    mainThread_.assertOnOwnerThread("CaptureRecovery::windowResized");
    if (!stillCurrent()) return;
    resizeTask_.startOnce(scheduler_, kResizeDebounce,
                          [this, width, height, stillCurrent = std::move(stillCurrent)] {
                              // A start or stop since the change makes it moot.
                              if (!stillCurrent() || !capture_.isRunning()) return;
                              logLine("Window resize detected (" + std::to_string(int64_t(width)) +
                                      "x" + std::to_string(int64_t(height)) +
                                      "). Adjusting capture stream...");
                              requestRestart();
                          });
}

void CaptureRecovery::beginRestart() {
    restarting_ = true;
    restartCancelled_ = false;
    restartStopMark_ = deliberateStops_;
    logLine("Restarting capture stream...");
    std::weak_ptr<char> alive = alive_;
    capture_.stopForRestart([this, alive] {
        if (alive.expired()) return;
        pauseThen(kRestartPause, [this] { attemptStart(1); });
    });
}

void CaptureRecovery::attemptStart(int attempt) {
    if (deliberateStops_ != restartStopMark_) {
        // Stopped on purpose (sleep, quit) while recovering: stay stopped.
        restartPending_ = false;
        endRestart();
        return;
    }
    if (restartCancelled_ || attempt > kRestartAttempts) {
        // After the last attempt's pause the watchdog takes over.
        endRestart();
        return;
    }
    std::weak_ptr<char> alive = alive_;
    capture_.startForRestart([this, alive, attempt](const std::optional<CaptureError>& error) {
        if (alive.expired()) return;
        if (!error) {
            logLine("Capture stream successfully recovered.");
            endRestart();
            return;
        }
        logLine("Recovery attempt " + std::to_string(attempt) + " failed: " + error->message +
                ". Retrying in 1.5s...");
        pauseThen(kRetryPause, [this, attempt] { attemptStart(attempt + 1); });
    });
}

void CaptureRecovery::endRestart() {
    restarting_ = false;
    restartCancelled_ = false;
    if (restartPending_) {
        restartPending_ = false;
        beginRestart();
    }
}

void CaptureRecovery::pauseThen(Duration delay, std::function<void()> then) {
    pauseContinuation_ = std::move(then);
    pauseTask_.startOnce(scheduler_, delay, [this] {
        auto next = std::move(pauseContinuation_);
        pauseContinuation_ = nullptr;
        if (next) next();
    });
}

void CaptureRecovery::wakePausedRestart() {
    if (!pauseContinuation_) return;
    pauseTask_.cancel();
    auto then = std::move(pauseContinuation_);
    pauseContinuation_ = nullptr;
    then();
}

bool WindowResizeDetector::report(double width, double height, std::optional<double> scale) {
    if (!lastSize_) {
        lastSize_ = {width, height};
        lastScale_ = scale;
        return false;
    }
    double d = std::max(std::abs(width - lastSize_->first), std::abs(height - lastSize_->second));
    bool changed = d >= kSizeThreshold;
    if (scale && lastScale_ && std::abs(*scale - *lastScale_) >= kScaleThreshold) changed = true;
    if (!changed) return false;
    lastSize_ = {width, height};
    if (scale) lastScale_ = scale;
    return true;
}

void WindowResizeDetector::reset() {
    lastSize_.reset();
    lastScale_.reset();
}

}  // namespace corvane
