#include "platform/sched/QtMainScheduler.h"

#include <QMetaObject>
#include <QThread>
#include <QTimerEvent>

#include <chrono>
#include <climits>
#include <utility>
#include <vector>

namespace corvane {
namespace {

// Whole milliseconds, rounded up so a task never runs before its delay; at least 1 ms for
// repeating timers so that one cannot starve the event loop.
int toTimerMilliseconds(Duration d, int minimum) {
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(d).count();
    if (ms < minimum) return minimum;
    if (ms > INT_MAX) return INT_MAX;
    return static_cast<int>(ms);
}

}  // namespace

QtMainScheduler::QtMainScheduler(QObject* parent) : QObject(parent) {}

QtMainScheduler::~QtMainScheduler() {
    shutDown();
}

Scheduler::TaskId QtMainScheduler::postDelayed(Duration delay, Task task) {
    return schedule(delay, Duration::zero(), std::move(task));
}

Scheduler::TaskId QtMainScheduler::postRepeating(Duration interval, Task task) {
    return schedule(interval, interval > Duration::zero() ? interval : std::chrono::milliseconds(1),
                    std::move(task));
}

Scheduler::TaskId QtMainScheduler::schedule(Duration delay, Duration interval, Task task) {
    TaskId id;
    {
        std::lock_guard lock(mutex_);
        if (shutDown_ || !task) return kNoTask;
        id = nextId_++;
        entries_[id] = Entry{std::make_shared<Task>(std::move(task)), interval, 0};
        // Requests are taken in the order they were queued, so zero-delay tasks run in posting
        // order. Timers belong to the owning thread: they are armed there.
        if (delay <= Duration::zero() && interval == Duration::zero()) {
            requests_.push_back(Request{Request::Kind::Run, id});
        } else {
            requests_.push_back(Request{Request::Kind::Arm, id, delay, interval});
        }
    }
    QMetaObject::invokeMethod(this, "takeRequest", Qt::QueuedConnection);
    return id;
}

void QtMainScheduler::handOver(Request request) {
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
    }
    QMetaObject::invokeMethod(this, "takeRequest", Qt::QueuedConnection);
}

void QtMainScheduler::takeRequest() {
    Request request;
    {
        std::lock_guard lock(mutex_);
        if (requests_.empty()) return;
        request = requests_.front();
        requests_.pop_front();
    }
    switch (request.kind) {
    case Request::Kind::Run: runZeroDelay(request.id); break;
    case Request::Kind::Arm: arm(request.id, request.delay, request.interval); break;
    case Request::Kind::KillTimer: killTaskTimer(request.timerId, request.id); break;
    }
}

void QtMainScheduler::arm(TaskId id, Duration delay, Duration interval) {
    int timerId = startTimer(toTimerMilliseconds(interval > Duration::zero() ? interval : delay,
                                                 interval > Duration::zero() ? 1 : 0),
                             Qt::PreciseTimer);
    if (timerId == 0) return;
    std::lock_guard lock(mutex_);
    auto it = entries_.find(id);
    if (it == entries_.end()) {
        killTimer(timerId);  // cancelled before it was armed
        return;
    }
    it->second.timerId = timerId;
    taskByTimer_[timerId] = id;
}

void QtMainScheduler::runZeroDelay(TaskId id) {
    std::shared_ptr<Task> task;
    {
        std::lock_guard lock(mutex_);
        auto it = entries_.find(id);
        if (it == entries_.end()) return;
        task = std::move(it->second.task);
        entries_.erase(it);
    }
    (*task)();
}

void QtMainScheduler::timerEvent(QTimerEvent* event) {
    const int timerId = event->timerId();
    auto mapped = taskByTimer_.find(timerId);
    if (mapped == taskByTimer_.end()) {
        killTimer(timerId);
        return;
    }
    const TaskId id = mapped->second;
    std::shared_ptr<Task> task;
    {
        std::lock_guard lock(mutex_);
        auto it = entries_.find(id);
        if (it == entries_.end()) {
            killTimer(timerId);
            taskByTimer_.erase(mapped);
            return;
        }
        task = it->second.task;
        if (it->second.interval == Duration::zero()) {
            entries_.erase(it);
            killTimer(timerId);
            taskByTimer_.erase(mapped);
        }
    }
    // Run with no lock held: the task may post or cancel, itself included.
    (*task)();
}

void QtMainScheduler::cancel(TaskId id) {
    int timerId = 0;
    {
        std::lock_guard lock(mutex_);
        auto it = entries_.find(id);
        if (it == entries_.end()) return;
        timerId = it->second.timerId;
        entries_.erase(it);
    }
    if (timerId != 0) killTimerOnOwnerThread(timerId, id);
}

void QtMainScheduler::killTaskTimer(int timerId, TaskId id) {
    // Qt reuses timer ids: kill only if the timer still belongs to this task.
    auto it = taskByTimer_.find(timerId);
    if (it == taskByTimer_.end() || it->second != id) return;
    taskByTimer_.erase(it);
    killTimer(timerId);
}

void QtMainScheduler::killTimerOnOwnerThread(int timerId, TaskId id) {
    if (QThread::currentThread() == thread()) {
        killTaskTimer(timerId, id);
        return;
    }
    // The entry is already gone, so a firing before this runs does nothing.
    handOver(Request{Request::Kind::KillTimer, id, {}, {}, timerId});
}

void QtMainScheduler::shutDown() {
    std::vector<std::pair<int, TaskId>> timers;
    {
        std::lock_guard lock(mutex_);
        shutDown_ = true;
        for (auto& [id, entry] : entries_) {
            if (entry.timerId != 0) timers.emplace_back(entry.timerId, id);
        }
        entries_.clear();
    }
    for (auto [timerId, id] : timers) killTimerOnOwnerThread(timerId, id);
}

size_t QtMainScheduler::pendingCount() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
}

SteadyTime QtMainScheduler::now() const { return std::chrono::steady_clock::now(); }

}  // namespace corvane
