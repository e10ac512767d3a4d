// The save worker: tasks in order, and a task given up on keeps its thread while later ones run.
#include "core/export/SaveWorker.h"

#include <gtest/gtest.h>

#include <future>
#include <vector>

namespace corvane {
namespace {

using namespace std::chrono_literals;

TEST(SaveWorker, AnAbandonedTaskKeepsItsThreadWhileTheNextRunsAndQuittingWaitsOnlySoLong) {
    std::vector<int> order;
    std::promise<void> started, release;
    std::shared_future<void> released = release.get_future().share();
    std::promise<void> abandonedEnded;
    {
        SaveWorker worker("test-save");
        ASSERT_TRUE(worker.post([&] { order.push_back(1); }));
        ASSERT_TRUE(worker.waitIdle(5s));
        ASSERT_TRUE(worker.post([&] {
            started.set_value();
            released.wait();
            abandonedEnded.set_value();
        }));
        started.get_future().wait();
        EXPECT_FALSE(worker.waitIdle(20ms)) << "a hung task: the wait is bounded";

        worker.abandonRunning();
        std::promise<std::thread::id> next;
        ASSERT_TRUE(worker.post([&] { next.set_value(std::this_thread::get_id()); }));
        auto nextThread = next.get_future();
        ASSERT_EQ(nextThread.wait_for(5s), std::future_status::ready) << "runs beside the stuck one";
        EXPECT_NE(nextThread.get(), std::this_thread::get_id());
        EXPECT_TRUE(worker.waitIdle(5s));
    }  // destroyed while the abandoned task still hangs: returns at once
    release.set_value();
    EXPECT_EQ(abandonedEnded.get_future().wait_for(5s), std::future_status::ready);
    EXPECT_EQ(order, std::vector<int>{1});
}

}  // namespace
}  // namespace corvane
