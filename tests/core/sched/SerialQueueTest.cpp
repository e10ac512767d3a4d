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

TEST(SerialQueue, RunsInOrderOnItsThreadDrainRunsQueuedWorkDiscardDropsIt) {
    std::atomic<int> ran{0};
    {
        std::vector<int> order;  // only the queue's thread touches it until the stop
        std::thread::id worker;
        Gate gate;
        SerialQueue q("drain");
        gate.blockIn(q);
        for (int i = 0; i < 10; ++i) {
            q.post([&, i] {
                order.push_back(i);
                worker = std::this_thread::get_id();
            });
        }
        gate.open();
        q.stop(SerialQueue::StopMode::Drain);
        EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
        EXPECT_NE(worker, std::this_thread::get_id());
        EXPECT_FALSE(q.post([&] { ++ran; }));
    }
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
