#include "platform/sched/QtMainScheduler.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace corvane {
namespace {

using namespace std::chrono_literals;

// Runs the real event loop until `done` holds or a generous safety limit passes.
template <typename Pred>
bool spinUntil(Pred done, std::chrono::milliseconds limit = 5000ms) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    }
    return true;
}

// Runs the loop for a fixed span (only to give a cancelled task the chance to misbehave).
void spinFor(std::chrono::milliseconds span) {
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(span.count()), &loop, &QEventLoop::quit);
    loop.exec();
}

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
                    if (QThread::currentThread() != QCoreApplication::instance()->thread()) {
                        ++offMainThread;
                    }
                    order.push_back(t * kPerThread + i);
                }));
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_TRUE(order.empty()) << "ran before the event loop did";
    ASSERT_TRUE(spinUntil([&] { return order.size() == kThreads * kPerThread; }));
    EXPECT_EQ(offMainThread, 0);
    std::vector<int> last(kThreads, -1);
    for (int v : order) {
        EXPECT_GT(v % kPerThread, last[v / kPerThread]) << "out of order within thread";
        last[v / kPerThread] = v % kPerThread;
    }
}

TEST(QtMainScheduler, DelayedTasksRunByDueTimeNotPostingOrder) {
    QtMainScheduler scheduler;
    std::vector<int> order;
    auto start = scheduler.now();
    std::vector<std::chrono::steady_clock::duration> ranAfter;
    for (int delayMs : {60, 20, 40, 0}) {
        scheduler.postDelayed(std::chrono::milliseconds(delayMs), [&, delayMs] {
            order.push_back(delayMs);
            ranAfter.push_back(scheduler.now() - start);
        });
    }
    ASSERT_TRUE(spinUntil([&] { return order.size() == 4; }));
    EXPECT_EQ(order, (std::vector<int>{0, 20, 40, 60}));
    EXPECT_GE(ranAfter[3], 60ms);  // never early
    EXPECT_EQ(scheduler.pendingCount(), 0u);
}

TEST(QtMainScheduler, CancelledTasksNeverStart) {
    QtMainScheduler scheduler;
    std::atomic<int> ran{0};
    // Cancelled on the main thread, before and after the timer was armed.
    auto a = scheduler.postDelayed(10ms, [&] { ++ran; });
    scheduler.cancel(a);
    auto b = scheduler.postDelayed(30ms, [&] { ++ran; });
    auto zero = scheduler.post([&] { ++ran; });
    (void)zero;
    auto c = scheduler.postDelayed(0ms, [&] { ++ran; });
    scheduler.cancel(c);
    spinFor(5ms);
    scheduler.cancel(b);
    // Cancelled from another thread while the timer is armed.
    auto d = scheduler.postDelayed(40ms, [&] { ++ran; });
    spinFor(5ms);
    std::thread([&] { scheduler.cancel(d); }).join();
    // A task that cancels another due at the same moment.
    Scheduler::TaskId victim = Scheduler::kNoTask;
    scheduler.postDelayed(20ms, [&] { scheduler.cancel(victim); });
    victim = scheduler.postDelayed(20ms, [&] { ++ran; });
    scheduler.cancel(12345);  // unknown: nothing happens
    spinFor(120ms);
    EXPECT_EQ(ran, 1);  // only the plain post
    EXPECT_EQ(scheduler.pendingCount(), 0u);
}

TEST(QtMainScheduler, RepeatingTimerRepeatsUntilCancelledEvenFromItsOwnRun) {
    QtMainScheduler scheduler;
    int runs = 0;
    Scheduler::TaskId id = Scheduler::kNoTask;
    id = scheduler.postRepeating(5ms, [&] {
        if (++runs == 3) scheduler.cancel(id);
    });
    ASSERT_TRUE(spinUntil([&] { return runs >= 3; }));
    spinFor(40ms);
    EXPECT_EQ(runs, 3);

    // ScheduledTask cancels its repeating timer when it goes away.
    int ticks = 0;
    {
        ScheduledTask owned;
        owned.startRepeating(scheduler, 5ms, [&] { ++ticks; });
        ASSERT_TRUE(spinUntil([&] { return ticks >= 2; }));
    }
    int atReset = ticks;
    spinFor(30ms);
    EXPECT_EQ(ticks, atReset);
}

TEST(QtMainScheduler, ShutDownDropsPendingWorkAndRefusesNewWork) {
    std::atomic<int> ran{0};
    {
        QtMainScheduler scheduler;
        scheduler.post([&] { ++ran; });
        scheduler.postRepeating(5ms, [&] { ++ran; });
        scheduler.shutDown();
        EXPECT_FALSE(scheduler.post([&] { ++ran; }));
        EXPECT_EQ(scheduler.postDelayed(1ms, [&] { ++ran; }), Scheduler::kNoTask);
        spinFor(30ms);
    }
    {
        // Destroyed with work still queued: none of it may run afterwards.
        QtMainScheduler scheduler;
        scheduler.post([&] { ++ran; });
        scheduler.postDelayed(5ms, [&] { ++ran; });
    }
    spinFor(30ms);
    EXPECT_EQ(ran, 0);
}

}  // namespace
}  // namespace corvane
