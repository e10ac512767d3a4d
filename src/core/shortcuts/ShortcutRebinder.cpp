#include "core/shortcuts/ShortcutRebinder.h"

#include <string>
#include <utility>

#include "core/log/Log.h"

namespace corvane {

ShortcutRebinder::ShortcutRebinder(Scheduler& scheduler, Rebind rebind)
    : scheduler_(scheduler), rebind_(std::move(rebind)) {}

void ShortcutRebinder::bindingsLost() {
    if (lost_) return;
    lost_ = true;
    // Dropped again soon after coming back: the count and the delays go on from where they were.
    keptTask_.cancel();
    tryAgainLater();
}

void ShortcutRebinder::serviceAppeared() {
    waitingForService_ = false;
    if (lost_ && !attemptInFlight_) scheduleAttempt(kFirstDelay);
}

void ShortcutRebinder::setSuspended(bool suspended) {
    if (suspended == suspended_) return;
    suspended_ = suspended;
    if (suspended) {
        attemptTask_.cancel();
    } else if (lost_ && !attemptInFlight_) {
        scheduleAttempt(kFirstDelay);
    }
}

void ShortcutRebinder::stop() {
    ++epoch_;
    lost_ = false;
    attemptInFlight_ = false;
    waitingForService_ = false;
    attemptTask_.cancel();
    keptTask_.cancel();
    attempts_ = 0;
    backoff_.reset();
}

void ShortcutRebinder::tryAgainLater() {
    if (attempts_ >= kMaxAttempts) {
        giveUp("Gave up binding the global shortcuts again after " + std::to_string(attempts_) + " attempts");
        return;
    }
    scheduleAttempt(backoff_.next());
}

void ShortcutRebinder::scheduleAttempt(Duration delay) {
    if (suspended_ || waitingForService_) return;  // resuming or the service's return starts it
    logLine("Binding the global shortcuts again in " +
            std::to_string(std::chrono::duration_cast<std::chrono::seconds>(delay).count()) + " s.");
    attemptTask_.startOnce(scheduler_, delay, [this] { attempt(); });
}

void ShortcutRebinder::attempt() {
    if (!lost_ || attemptInFlight_ || !rebind_) return;
    attemptInFlight_ = true;
    ++attempts_;
    std::weak_ptr<char> alive = alive_;
    const uint64_t epoch = epoch_;
    rebind_([this, alive, epoch](Outcome outcome) {
        if (alive.expired() || epoch != epoch_) return;
        attemptInFlight_ = false;
        finishAttempt(outcome);
    });
}

void ShortcutRebinder::finishAttempt(Outcome outcome) {
    switch (outcome) {
        case Outcome::bound:
            lost_ = false;
            logLine("Global shortcuts are bound again.");
            keptTask_.startOnce(scheduler_, kKeptLongEnough, [this] {
                attempts_ = 0;
                backoff_.reset();
            });
            return;
        case Outcome::failed:
            tryAgainLater();
            return;
        case Outcome::noService:
            waitingForService_ = true;
            logLine("The desktop's shortcut service is not running; the global shortcuts are bound again "
                    "when it is back.");
            return;
        case Outcome::declined:
            giveUp("The desktop's dialog for the global shortcuts was declined");
            return;
    }
}

void ShortcutRebinder::giveUp(const std::string& why) {
    lost_ = false;
    attemptTask_.cancel();
    attempts_ = 0;
    backoff_.reset();
    logLine(why + "; they work again after the next change of profiles.");
}

}  // namespace corvane
