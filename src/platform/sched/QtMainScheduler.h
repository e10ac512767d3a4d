#pragma once

#include <QObject>

#include <memory>
#include <mutex>
#include <unordered_map>

#include "core/sched/Scheduler.h"

namespace corvane {

// The program's main-thread Scheduler on the Qt event loop of the thread that creates it (the
// main thread). post, postDelayed, postRepeating, cancel and shutDown may be called from any
// thread; tasks always run on the owning thread, one at a time, from the event loop. Zero-delay
// tasks run in posting order (posted events keep their order); delayed and repeating tasks use
// precise timers, their delays rounded up to whole milliseconds so they never fire early.
// Create and destroy it on the main thread; tasks still pending at destruction never run.
class QtMainScheduler final : public QObject, public Scheduler {
    Q_OBJECT

public:
    explicit QtMainScheduler(QObject* parent = nullptr);
    ~QtMainScheduler() override;

    TaskId postDelayed(Duration delay, Task task) override;
    TaskId postRepeating(Duration interval, Task task) override;
    void cancel(TaskId id) override;
    SteadyTime now() const override;

    // Drops every pending task; later posts are refused (kNoTask / false). For the end of the
    // program, so that work posted by stopping components is not run against a dying UI.
    void shutDown();
    // Tasks waiting to run (a repeating one counts once).
    size_t pendingCount() const;

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    struct Entry {
        std::shared_ptr<Task> task;
        Duration interval{};  // repeat period; zero for one-shot tasks
        int timerId = 0;      // Qt timer once armed on the main thread
    };

    TaskId schedule(Duration delay, Duration interval, Task task);
    void arm(TaskId id, Duration delay, Duration interval);  // main thread
    void runZeroDelay(TaskId id);                           // main thread
    void killTimerOnOwnerThread(int timerId, TaskId id);

    mutable std::mutex mutex_;
    std::unordered_map<TaskId, Entry> entries_;  // guarded by mutex_
    TaskId nextId_ = 1;                          // guarded by mutex_
    bool shutDown_ = false;                      // guarded by mutex_
    std::unordered_map<int, TaskId> taskByTimer_;  // main thread only
};

}  // namespace corvane
