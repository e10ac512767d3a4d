#include "core/sched/SerialQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>
#include <vector>

namespace corvane {
namespace {

// Holds a queue's thread inside its first task until open() is called.
struct Gate {
    std::promise<void> opened, entered;
    std::shared_future<void> isOpen = opened.get_future().share();
    std::atomic<bool> left{false};
    void blockIn(SerialQueue& q) {
        q.post([this] {
            entered.set_value();
            isOpen.wait();
            left = true;
        });
        entered.get_future().wait();
    }
    void open() { opened.set_value(); }
};

TEST(SerialQueue, RunsTasksInOrderOnItsOwnThread) {
    SerialQueue q("com.corvane.test-queue");
    std::vector<int> order;  // only the queue's thread touches it until waitIdle
    std::thread::id worker;
    for (int i = 0; i < 100; ++i) {
        q.post([&, i] {
            order.push_back(i);
            worker = std::this_thread::get_id();
        });
    }
    q.waitIdle();
    ASSERT_EQ(order.size(), 100u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(order[i], i);
    EXPECT_NE(worker, std::this_thread::get_id());
}

TEST(SerialQueue, DrainRunsQueuedWorkDiscardDropsIt) {
    std::atomic<int> ran{0};
    {
        Gate gate;
        SerialQueue q("drain");
        gate.blockIn(q);
        for (int i = 0; i < 10; ++i) q.post([&] { ++ran; });
        gate.open();
        q.stop(SerialQueue::StopMode::Drain);
        EXPECT_EQ(ran, 10);
        EXPECT_FALSE(q.post([&] { ++ran; }));
    }
    ran = 0;
    Gate gate;
    SerialQueue q("discard");
    gate.blockIn(q);
    for (int i = 0; i < 10; ++i) q.post([&] { ++ran; });
    // Opened only once stop() has begun (posts are refused from then on), so that it is
    // waiting for the running task.
    std::thread releaser([&] {
        while (q.post([] {})) std::this_thread::yield();
        gate.open();
    });
    q.stop(SerialQueue::StopMode::Discard);  // waits for the running task, drops the rest
    releaser.join();
    EXPECT_TRUE(gate.left);
    EXPECT_EQ(ran, 0);
}

}  // namespace
}  // namespace corvane
