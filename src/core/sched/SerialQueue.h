#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "core/sched/Scheduler.h"

namespace corvane {

// A serial worker queue: one thread of its own that runs posted tasks one at a time, in order.
//
// Lifecycle:
//   post()           queue a task; false once the queue has been stopped.
//   waitIdle()       block until every task posted so far has run (not from the queue itself).
//   stop(Drain)      refuse new tasks, run what is queued, join the thread.
//   stop(Discard)    refuse new tasks, drop what is queued, finish the running task, join.
// The destructor stops with Discard. Stopping from a task of the queue itself is not allowed.
class SerialQueue final : public Executor {
public:
    enum class StopMode { Drain, Discard };

    explicit SerialQueue(std::string name);
    ~SerialQueue() override;
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    bool post(Task task) override;
    void waitIdle();
    void stop(StopMode mode);

    const std::string& name() const { return name_; }
    // True when called from this queue's thread.
    bool isCurrent() const { return std::this_thread::get_id() == thread_.get_id(); }

private:
    void run();

    const std::string name_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<Task> tasks_;   // guarded by mutex_
    bool stopping_ = false;    // guarded by mutex_
    bool discard_ = false;     // guarded by mutex_
    bool busy_ = false;        // guarded by mutex_
    std::thread thread_;
};

}  // namespace corvane
