#include "core/sched/ManualScheduler.h"

namespace corvane {

ManualScheduler::ManualScheduler()
    : now_(SteadyTime{} + std::chrono::hours(1000)),
      // A fixed calendar start keeps file names and texts reproducible: 2026-01-02 03:04:05 UTC.
      wallStart_(WallTime{} + std::chrono::seconds(1767323045)),
      start_(now_) {}

Scheduler::TaskId ManualScheduler::postDelayed(Duration delay, Task task) {
    std::lock_guard lock(mutex_);
    if (delay < Duration::zero()) delay = Duration::zero();
    const TaskId id = nextId_++;
    Key key{now_ + delay, nextSequence_++, id};
    queue_.emplace(key, Entry{std::move(task), Duration::zero()});
    keysById_.emplace(id, key);
    return id;
}

Scheduler::TaskId ManualScheduler::postRepeating(Duration interval, Task task) {
    std::lock_guard lock(mutex_);
    if (interval <= Duration::zero()) interval = std::chrono::milliseconds(1);
    const TaskId id = nextId_++;
    Key key{now_ + interval, nextSequence_++, id};
    queue_.emplace(key, Entry{std::move(task), interval});
    keysById_.emplace(id, key);
    return id;
}

void ManualScheduler::cancel(TaskId id) {
    std::lock_guard lock(mutex_);
    if (id == runningRepeating_) runningCancelled_ = true;
    auto it = keysById_.find(id);
    if (it == keysById_.end()) return;
    queue_.erase(it->second);
    keysById_.erase(it);
}

SteadyTime ManualScheduler::now() const {
    std::lock_guard lock(mutex_);
    return now_;
}

WallTime ManualScheduler::wallNow() const {
    std::lock_guard lock(mutex_);
    return wallStart_ + std::chrono::duration_cast<WallTime::duration>(now_ - start_);
}

bool ManualScheduler::popDue(SteadyTime limit, Key& key, Entry& entry) {
    std::lock_guard lock(mutex_);
    if (queue_.empty()) return false;
    auto it = queue_.begin();
    if (std::get<0>(it->first) > limit) return false;
    key = it->first;
    entry = std::move(it->second);
    queue_.erase(it);
    keysById_.erase(std::get<2>(key));
    if (std::get<0>(key) > now_) now_ = std::get<0>(key);
    if (entry.interval > Duration::zero()) {
        runningRepeating_ = std::get<2>(key);
        runningCancelled_ = false;
    }
    return true;
}

int ManualScheduler::runDue() {
    return advanceTo(now());
}

int ManualScheduler::advanceBy(Duration d) { return advanceTo(now() + d); }

int ManualScheduler::advanceTo(SteadyTime target) {
    int ran = 0;
    Key key;
    Entry entry;
    while (popDue(target, key, entry)) {
        entry.task();
        ++ran;
        if (entry.interval > Duration::zero()) {
            std::lock_guard lock(mutex_);
            const TaskId id = std::get<2>(key);
            if (!runningCancelled_) {
                Key next{std::get<0>(key) + entry.interval, nextSequence_++, id};
                queue_.emplace(next, std::move(entry));
                keysById_.emplace(id, next);
            }
            runningRepeating_ = kNoTask;
            runningCancelled_ = false;
        }
    }
    std::lock_guard lock(mutex_);
    if (target > now_) now_ = target;
    return ran;
}

size_t ManualScheduler::pendingCount() const {
    std::lock_guard lock(mutex_);
    return queue_.size();
}

SteadyTime ManualScheduler::nextDueTime() const {
    std::lock_guard lock(mutex_);
    return queue_.empty() ? SteadyTime::max() : std::get<0>(queue_.begin()->first);
}

}  // namespace corvane
