#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "core/sched/Scheduler.h"

namespace corvane {

// The thread clip saves run on, one task at a time, in order. A save blocked in the kernel (a
// stalled network mount) cannot be interrupted: abandonRunning() leaves it to finish on its own
// thread, which then ends by itself, and later tasks get a new thread. Tasks given up on must not
// touch their owner once they return (they hold what they use).
class SaveWorker final : public Executor {
public:
    explicit SaveWorker(std::string name);
    // Refuses new tasks and drops queued ones; joins the thread when it is idle, otherwise leaves
    // the running task to finish alone.
    ~SaveWorker() override;
    SaveWorker(const SaveWorker&) = delete;
    SaveWorker& operator=(const SaveWorker&) = delete;

    bool post(Task task) override;
    // Waits at most `timeout` until nothing is queued or running. True when idle.
    bool waitIdle(Duration timeout);
    // The running task keeps its thread; tasks queued behind it and posted from now on run on a
    // new one. Nothing happens when idle.
    void abandonRunning();

private:
    struct Lane {
        std::mutex mutex;
        std::condition_variable wake;
        std::condition_variable idle;
        std::deque<Task> tasks;  // guarded by mutex
        bool busy = false;       // guarded by mutex
        bool stopping = false;   // guarded by mutex
        std::thread thread;      // started by the first post
    };
    static void run(const std::shared_ptr<Lane>& lane);

    const std::string name_;
    std::mutex mutex_;
    std::shared_ptr<Lane> lane_;  // guarded by mutex_
    bool stopped_ = false;        // guarded by mutex_
};

}  // namespace corvane
