#include "core/sched/SerialQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <vector>

namespace corvane {
namespace {

TEST(SerialQueue, RunsTasksInOrderOnItsOwnThread) {
    SerialQueue q("com.corvane.test-queue");
    std::vector<int> order;
    std::thread::id worker;
    for (int i = 0; i < 100; ++i)
        q.post([&, i] {
            order.push_back(i);  // only the queue's thread touches it
            worker = std::this_thread::get_id();
        });
    q.waitIdle();
    ASSERT_EQ(order.size(), 100u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(order[i], i);
    EXPECT_NE(worker, std::this_thread::get_id());
}

TEST(SerialQueue, DrainRunsQueuedWorkDiscardDropsIt) {
    std::promise<void> gate;
    std::shared_future<void> open = gate.get_future().share();
    std::atomic<int> ran{0};
    {
        SerialQueue q("drain");
        q.post([open] { open.wait(); });
        for (int i = 0; i < 10; ++i) q.post([&] { ++ran; });
        gate.set_value();
        q.stop(SerialQueue::StopMode::Drain);
        EXPECT_EQ(ran, 10);
        EXPECT_FALSE(q.post([&] { ++ran; }));
    }
    std::promise<void> gate2;
    std::shared_future<void> open2 = gate2.get_future().share();
    std::atomic<bool> firstDone{false};
    ran = 0;
    SerialQueue q("discard");
    std::promise<void> started;
    q.post([&, open2] {
        started.set_value();
        open2.wait();
        firstDone = true;
    });
    started.get_future().wait();
    for (int i = 0; i < 10; ++i) q.post([&] { ++ran; });
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        gate2.set_value();
    });
    q.stop(SerialQueue::StopMode::Discard);  // waits for the running task, drops the rest
    releaser.join();
    EXPECT_TRUE(firstDone);
    EXPECT_EQ(ran, 0);
}

TEST(SerialQueue, CancelPendingKeepsTheQueueUsable) {
    std::promise<void> gate;
    std::shared_future<void> open = gate.get_future().share();
    std::atomic<int> ran{0};
    SerialQueue q("cancel");
    std::promise<void> started;
    q.post([&, open] {
        started.set_value();
        open.wait();
    });
    started.get_future().wait();
    for (int i = 0; i < 5; ++i) q.post([&] { ++ran; });
    EXPECT_EQ(q.cancelPending(), 5u);
    gate.set_value();
    q.post([&] { ran += 100; });
    q.waitIdle();
    EXPECT_EQ(ran, 100);
}

}  // namespace
}  // namespace corvane
