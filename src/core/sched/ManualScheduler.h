#pragma once

#include <map>
#include <mutex>
#include <tuple>

#include "core/sched/Scheduler.h"

namespace corvane {

// A deterministic virtual-time scheduler for tests. Time moves only through advanceBy/advanceTo;
// due tasks run on the calling thread in (due time, posting order). Tasks may be posted from
// other threads; they run at the next runDue/advance call. Also a Clock, so code under test can
// read the same virtual time; wall time moves with it from a fixed start.
class ManualScheduler final : public Scheduler, public Clock {
public:
    ManualScheduler();

    TaskId postDelayed(Duration delay, Task task) override;
    TaskId postRepeating(Duration interval, Task task) override;
    void cancel(TaskId id) override;
    SteadyTime now() const override;
    WallTime wallNow() const override;

    // Runs every task due at the current time, including ones they post with zero delay.
    // Returns how many tasks ran.
    int runDue();
    // Moves time forward in steps to each due task in turn, running them, and ends at now + d.
    int advanceBy(Duration d);
    int advanceTo(SteadyTime t);
    // Number of pending tasks (repeating ones count once).
    size_t pendingCount() const;
    // Due time of the earliest pending task, or SteadyTime::max() when none.
    SteadyTime nextDueTime() const;

private:
    struct Entry {
        Task task;
        Duration interval{};  // zero for one-shot tasks
    };
    using Key = std::tuple<SteadyTime, uint64_t /*sequence*/, TaskId>;

    bool popDue(SteadyTime limit, Key& key, Entry& entry);

    mutable std::mutex mutex_;
    SteadyTime now_;
    WallTime wallStart_;
    SteadyTime start_;
    uint64_t nextSequence_ = 1;
    TaskId nextId_ = 1;
    std::map<Key, Entry> queue_;          // guarded by mutex_
    std::map<TaskId, Key> keysById_;      // guarded by mutex_
    TaskId runningRepeating_ = kNoTask;  // guarded by mutex_
    bool runningCancelled_ = false;       // guarded by mutex_
};

}  // namespace corvane
