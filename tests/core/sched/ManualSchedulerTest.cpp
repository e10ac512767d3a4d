#include "core/sched/ManualScheduler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace corvane {
namespace {

using namespace std::chrono_literals;

TEST(ManualScheduler, RunsDueTasksInTimeThenPostingOrder) {
    ManualScheduler s;
    std::vector<std::string> order;
    s.postDelayed(20ms, [&] { order.push_back("b20"); });
    s.postDelayed(10ms, [&] { order.push_back("a10"); });
    s.postDelayed(20ms, [&] { order.push_back("c20"); });
    s.post([&] { order.push_back("now"); });
    EXPECT_EQ(s.advanceBy(15ms), 2);
    EXPECT_EQ(order, (std::vector<std::string>{"now", "a10"}));
    s.advanceBy(5ms);
    EXPECT_EQ(order, (std::vector<std::string>{"now", "a10", "b20", "c20"}));
    EXPECT_EQ(s.pendingCount(), 0u);
}

// Tasks see their own due time (not the end of the advance), and may schedule more; a repeating
// timer keeps its grid; the wall clock moves with virtual time.
TEST(ManualScheduler, TasksSeeTheirDueTimeAndRepeatOnAGrid) {
    ManualScheduler s;
    const SteadyTime start = s.now();
    const WallTime wallStart = s.wallNow();
    std::vector<Duration> once, repeating;
    s.postDelayed(1s, [&] {
        once.push_back(s.now() - start);
        s.postDelayed(500ms, [&] { once.push_back(s.now() - start); });
    });
    s.postRepeating(1s, [&] { repeating.push_back(s.now() - start); });
    s.advanceBy(3500ms);
    EXPECT_EQ(once, (std::vector<Duration>{1s, 1500ms}));
    EXPECT_EQ(repeating, (std::vector<Duration>{1s, 2s, 3s}));
    EXPECT_EQ(s.now() - start, 3500ms);
    EXPECT_EQ(std::chrono::duration_cast<std::chrono::milliseconds>(s.wallNow() - wallStart), 3500ms);
}

TEST(ManualScheduler, CancelledTasksNeverRunIncludingRepeatingFromInside) {
    ManualScheduler s;
    int once = 0, ticks = 0;
    auto id = s.postDelayed(1s, [&] { ++once; });
    s.cancel(id);
    s.cancel(id);      // twice is harmless
    s.cancel(123456);  // unknown is harmless
    Scheduler::TaskId rep = Scheduler::kNoTask;
    rep = s.postRepeating(1s, [&] {
        if (++ticks == 3) s.cancel(rep);
    });
    s.advanceBy(10s);
    EXPECT_EQ(once, 0);
    EXPECT_EQ(ticks, 3);
    EXPECT_EQ(s.pendingCount(), 0u);
}

TEST(ManualScheduler, ScheduledTaskCancelsOnReplaceAndDestruction) {
    ManualScheduler s;
    int a = 0, b = 0;
    {
        ScheduledTask debounce;
        debounce.startOnce(s, 350ms, [&] { ++a; });
        s.advanceBy(200ms);
        debounce.startOnce(s, 350ms, [&] { ++b; });  // restarts the debounce
        s.advanceBy(300ms);
        EXPECT_EQ(a + b, 0);
        s.advanceBy(50ms);
        EXPECT_EQ(b, 1);
        debounce.startOnce(s, 1s, [&] { ++a; });
    }
    s.advanceBy(5s);
    EXPECT_EQ(a, 0);
}

TEST(ManualScheduler, AcceptsPostsFromOtherThreads) {
    ManualScheduler s;
    std::atomic<int> ran{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([&] {
            for (int j = 0; j < 100; ++j) s.post([&] { ++ran; });
        });
    }
    for (auto& t : threads) t.join();
    s.runDue();
    EXPECT_EQ(ran, 400);
}

}  // namespace
}  // namespace corvane
