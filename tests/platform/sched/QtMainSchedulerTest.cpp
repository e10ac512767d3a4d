#include "platform/sched/QtMainScheduler.h"

#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "support/QtEventWait.h"

namespace corvane {
namespace {

using namespace std::chrono_literals;
using test::serveEvents;
using test::waitUntil;

TEST(QtMainScheduler, TasksFromOtherThreadsRunOnTheMainThreadInPostingOrder) {
    QtMainScheduler scheduler;
    std::vector<int> order;  // touched only by tasks, on the main thread
    std::atomic<int> offMainThread{0};
    constexpr int kThreads = 4, kPerThread = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i) {
                EXPECT_TRUE(scheduler.post([&, t, i] {
                    offMainThread += QThread::currentThread() != qApp->thread();
                    order.push_back(t * kPerThread + i);
                }));
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_TRUE(order.empty()) << "ran before the event loop did";
    ASSERT_TRUE(waitUntil([&] { return order.size() == kThreads * kPerThread; }));
    EXPECT_EQ(offMainThread, 0);
    std::vector<int> last(kThreads, -1);
    for (int v : order) {
        EXPECT_GT(v % kPerThread, last[v / kPerThread]) << "out of order within thread";
        last[v / kPerThread] = v % kPerThread;
    }
}

TEST(QtMainScheduler, DelayedTasksRunByDueTimeNeverEarlyAndCancelledOnesNever) {
    QtMainScheduler scheduler;
    std::vector<int> order;
    const auto start = scheduler.now();
    Duration lastRanAfter{};
    for (int delayMs : {60, 20, 40, 0}) {
        scheduler.postDelayed(std::chrono::milliseconds(delayMs), [&, delayMs] {
            order.push_back(delayMs);
            lastRanAfter = scheduler.now() - start;
        });
    }
    auto cancelled = [&] { order.push_back(-1); };
    scheduler.cancel(scheduler.postDelayed(0ms, cancelled));  // before its timer is armed
    auto armed = scheduler.postDelayed(30ms, cancelled);
    auto armedForOtherThread = scheduler.postDelayed(40ms, cancelled);
    serveEvents(5);
    scheduler.cancel(armed);
    std::thread([&] { scheduler.cancel(armedForOtherThread); }).join();
    // Cancelled by a task due at the same moment.
    Scheduler::TaskId victim = Scheduler::kNoTask;
    scheduler.postDelayed(20ms, [&] { scheduler.cancel(victim); });
    victim = scheduler.postDelayed(20ms, cancelled);
    scheduler.cancel(12345);  // unknown: nothing happens
    ASSERT_TRUE(waitUntil([&] { return order.size() >= 4; }));
    serveEvents(30);
    EXPECT_EQ(order, (std::vector<int>{0, 20, 40, 60}));
    EXPECT_GE(lastRanAfter, 60ms);
    EXPECT_EQ(scheduler.pendingCount(), 0u);
}

TEST(QtMainScheduler, RepeatingTimersRunUntilCancelledAndShutDownOrDestructionDropsAllWork) {
    QtMainScheduler scheduler;
    int runs = 0, ticks = 0;
    Scheduler::TaskId id = Scheduler::kNoTask;
    id = scheduler.postRepeating(5ms, [&] {
        if (++runs == 3) scheduler.cancel(id);
    });
    {
        ScheduledTask owned;  // cancels its repeating timer when it goes away
        owned.startRepeating(scheduler, 5ms, [&] { ++ticks; });
        ASSERT_TRUE(waitUntil([&] { return runs >= 3 && ticks >= 2; }));
    }
    const int atReset = ticks;
    serveEvents(40);
    EXPECT_EQ(runs, 3);
    EXPECT_EQ(ticks, atReset);

    // Shut down or destroyed, the scheduler drops pending work and refuses new work.
    std::atomic<int> ran{0};
    {
        QtMainScheduler shutDown;
        shutDown.post([&] { ++ran; });
        shutDown.postRepeating(5ms, [&] { ++ran; });
        shutDown.shutDown();
        EXPECT_FALSE(shutDown.post([&] { ++ran; }));
        EXPECT_EQ(shutDown.postDelayed(1ms, [&] { ++ran; }), Scheduler::kNoTask);
        serveEvents(30);
    }
    {
        QtMainScheduler destroyed;
        destroyed.post([&] { ++ran; });
        destroyed.postDelayed(5ms, [&] { ++ran; });
    }
    serveEvents(30);
    EXPECT_EQ(ran, 0);
}

}  // namespace
}  // namespace corvane
