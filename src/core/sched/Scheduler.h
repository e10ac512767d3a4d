#pragma once

#include <cstdint>
#include <functional>

#include "core/sched/Clock.h"

namespace corvane {

using Task = std::function<void()>;

// Something that runs tasks later, in order of posting. Thread-safe.
class Executor {
public:
    virtual ~Executor() = default;
    // Queues the task; returns false (and drops it) when the executor no longer runs tasks.
    virtual bool post(Task task) = 0;
};

// The main-thread scheduler: every timer, debounce, delay and watchdog of the program runs here.
// Tasks run one at a time on the main thread; post, postDelayed, postRepeating and cancel may be
// called from any thread. In the app it is the Qt event loop; in tests a virtual clock
// (ManualScheduler) that runs due tasks only when the test advances time.
class Scheduler : public Executor {
public:
    using TaskId = uint64_t;
    static constexpr TaskId kNoTask = 0;

    // Runs `task` once, `delay` from now (a zero delay runs it after already queued work).
    virtual TaskId postDelayed(Duration delay, Task task) = 0;
    // Runs `task` every `interval`, first after one interval, until cancelled.
    virtual TaskId postRepeating(Duration interval, Task task) = 0;
    // Cancels a pending delayed or repeating task. Cancelling an unknown, finished or already
    // cancelled id does nothing. After cancel returns on the main thread the task never starts.
    virtual void cancel(TaskId id) = 0;
    // The scheduler's monotonic time (virtual in tests).
    virtual SteadyTime now() const = 0;

    bool post(Task task) override { return postDelayed(Duration::zero(), std::move(task)) != kNoTask; }
};

// Owns one scheduled task and cancels it when reset, replaced or destroyed: the usual way for an
// object to make sure none of its timers outlives it. Main-thread use only.
class ScheduledTask {
public:
    ScheduledTask() = default;
    ~ScheduledTask() { cancel(); }
    ScheduledTask(const ScheduledTask&) = delete;
    ScheduledTask& operator=(const ScheduledTask&) = delete;

    void startOnce(Scheduler& scheduler, Duration delay, Task task) {
        cancel();
        scheduler_ = &scheduler;
        id_ = scheduler.postDelayed(delay, std::move(task));
    }
    void startRepeating(Scheduler& scheduler, Duration interval, Task task) {
        cancel();
        scheduler_ = &scheduler;
        id_ = scheduler.postRepeating(interval, std::move(task));
    }
    void cancel() {
        if (scheduler_ && id_ != Scheduler::kNoTask) scheduler_->cancel(id_);
        id_ = Scheduler::kNoTask;
    }
    bool isScheduled() const { return id_ != Scheduler::kNoTask; }

private:
    Scheduler* scheduler_ = nullptr;
    Scheduler::TaskId id_ = Scheduler::kNoTask;
};

}  // namespace corvane
