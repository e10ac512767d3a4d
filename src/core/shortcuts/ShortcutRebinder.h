#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/sched/Backoff.h"
#include "core/sched/Scheduler.h"

namespace corvane {

// Binds the global shortcuts again after the desktop dropped them by itself (its shortcut service
// closed the session: it restarted, or took the shortcuts back; or it left the bus).
//
// Attempts run 1 s, 2 s, 4 s ... apart, capped at a minute. The usual cause, the desktop's service
// restarting, is over within a second or two, so the first attempts find it back at once; the cap
// keeps the desktop from being asked (an attempt may show its confirmation dialog) more than once
// a minute. kMaxAttempts failed attempts (about five minutes) end the attempts, and so does the
// user declining the desktop's dialog: the next change of profiles binds the shortcuts afresh.
// A set the desktop drops again within kKeptLongEnough of getting it back counts as one more
// failed attempt, so a desktop that keeps taking the shortcuts back is not asked in a loop. An
// attempt that finds no service on the bus waits, without a timer, until it is back.
//
// Scheduler-only: every method and callback runs on the scheduler's thread. `rebind` binds the
// newest set and answers through its completion, inside the call or later on the same thread.
class ShortcutRebinder {
public:
    static constexpr Duration kFirstDelay = std::chrono::seconds(1);
    static constexpr Duration kMaxDelay = std::chrono::seconds(60);
    static constexpr int kMaxAttempts = 10;
    static constexpr Duration kKeptLongEnough = std::chrono::seconds(60);

    enum class Outcome {
        bound,
        failed,     // the service answered with an error: try again later
        noService,  // nobody owns the service's name on the bus
        declined,   // the user turned the desktop's dialog down
    };
    using Rebind = std::function<void(std::function<void(Outcome)> done)>;

    ShortcutRebinder(Scheduler& scheduler, Rebind rebind);
    ShortcutRebinder(const ShortcutRebinder&) = delete;
    ShortcutRebinder& operator=(const ShortcutRebinder&) = delete;

    // The desktop dropped the bound set: the attempts start (a repeat while they run does nothing).
    void bindingsLost();
    // The service got an owner on the bus (again): while the set is lost, the next attempt runs
    // kFirstDelay from now.
    void serviceAppeared();
    // While suspended no attempt starts; after resuming the next one runs kFirstDelay later.
    void setSuspended(bool suspended);
    // The set was replaced or released on purpose: no more attempts, one in flight is ignored, and
    // a later loss starts afresh.
    void stop();
    bool isRebinding() const { return lost_; }

private:
    void scheduleAttempt(Duration delay);
    void attempt();
    void finishAttempt(Outcome outcome);
    void tryAgainLater();
    void giveUp(const std::string& why);

    Scheduler& scheduler_;
    Rebind rebind_;
    Backoff backoff_{kFirstDelay, kMaxDelay};
    int attempts_ = 0;  // since the last start afresh
    bool lost_ = false;
    bool attemptInFlight_ = false;
    bool waitingForService_ = false;
    bool suspended_ = false;
    uint64_t epoch_ = 0;  // bumped by stop: completions of earlier attempts are ignored
    ScheduledTask attemptTask_;
    ScheduledTask keptTask_;  // a re-bound set that lasts this long ends the count
    std::shared_ptr<char> alive_ = std::make_shared<char>();
};

}  // namespace corvane
