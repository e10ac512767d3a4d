#include "core/sched/ManualScheduler.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace corvane {
namespace {

using namespace std::chrono_literals;

TEST(ManualScheduler, RunsDueTasksInOrderAtTheirOwnTimes) {
    ManualScheduler s;
    const SteadyTime start = s.now();
    const WallTime wallStart = s.wallNow();
    std::vector<std::string> order;
    auto note = [&](std::string name) {
        return [&, name] { order.push_back(name + "@" + std::to_string((s.now() - start) / 1ms)); };
    };
    s.postDelayed(20ms, note("b"));
    s.postDelayed(10ms, note("a"));
    s.postDelayed(20ms, note("c"));
    s.post(note("now"));
    s.postDelayed(1s, [&] {
        note("once")();
        s.postDelayed(500ms, note("chained"));
    });
    const Scheduler::TaskId cancelled = s.postDelayed(1s, note("cancelled"));
    s.cancel(cancelled);
    s.cancel(cancelled);  // twice is harmless
    s.cancel(123456);     // unknown is harmless
    int ticks = 0;
    Scheduler::TaskId rep = Scheduler::kNoTask;
    rep = s.postRepeating(1s, [&] {
        note("tick")();
        if (++ticks == 3) s.cancel(rep);
    });
    EXPECT_EQ(s.advanceBy(15ms), 2);
    s.advanceBy(10s - 15ms);
    EXPECT_EQ(order, (std::vector<std::string>{"now@0", "a@10", "b@20", "c@20", "once@1000", "tick@1000",
                                               "chained@1500", "tick@2000", "tick@3000"}));
    EXPECT_EQ(s.pendingCount(), 0u);
    EXPECT_EQ(std::chrono::duration_cast<std::chrono::milliseconds>(s.wallNow() - wallStart), 10s);
}

// A new start replacing the pending task is what every debounce relies on (SettingsViewModelTest,
// RecoveryTest, EngineLifecycleTest); a task outliving its owner only shows here.
TEST(ManualScheduler, AScheduledTaskGoesWithItsOwner) {
    ManualScheduler s;
    int ran = 0;
    {
        ScheduledTask task;
        task.startOnce(s, 1s, [&] { ++ran; });
    }
    s.advanceBy(5s);
    EXPECT_EQ(ran, 0);
}

}  // namespace
}  // namespace corvane
