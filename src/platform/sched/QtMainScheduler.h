#pragma once

#include <QObject>

#include <deque>
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

private slots:
    // Main thread: carries out the oldest handed-over request (one call per request posted).
    void takeRequest();

private:
    struct Entry {
        std::shared_ptr<Task> task;
        Duration interval{};  // repeat period; zero for one-shot tasks
        int timerId = 0;      // Qt timer once armed on the main thread
    };
    // What another thread asks the main thread to do. Requests travel in requests_, under
    // mutex_, and only a payload-free queued call crosses Qt's event queue: Qt's own locking
    // is invisible to ThreadSanitizer, ours is not, and a lambda posted through Qt would be
    // written on one thread and read on the other with nothing the tool can see in between.
    struct Request {
        enum class Kind { Run, Arm, KillTimer };
        Kind kind = Kind::Run;
        TaskId id = kNoTask;
        Duration delay{};
        Duration interval{};
        int timerId = 0;
    };

    TaskId schedule(Duration delay, Duration interval, Task task);
    void handOver(Request request);                          // any thread; mutex_ not held
    void arm(TaskId id, Duration delay, Duration interval);  // main thread
    void runZeroDelay(TaskId id);                           // main thread
    void killTaskTimer(int timerId, TaskId id);             // main thread
    void killTimerOnOwnerThread(int timerId, TaskId id);

    mutable std::mutex mutex_;
    std::unordered_map<TaskId, Entry> entries_;  // guarded by mutex_
    std::deque<Request> requests_;               // guarded by mutex_
    TaskId nextId_ = 1;                          // guarded by mutex_
    bool shutDown_ = false;                      // guarded by mutex_
    std::unordered_map<int, TaskId> taskByTimer_;  // main thread only
};

}  // namespace corvane
