#include "core/capture/AudioReconnect.h"

#include <gtest/gtest.h>

#include <vector>

#include "core/sched/ManualScheduler.h"

namespace corvane {
namespace {

using namespace std::chrono_literals;

struct Harness {
    ManualScheduler scheduler;
    std::vector<SteadyTime> attempts;
    std::vector<bool> notices;
    int failuresLeft = 1000;
    AudioReconnect reconnect{scheduler,
                             {[this](std::function<void(bool)> done) {
                                  attempts.push_back(scheduler.now());
                                  const bool opened = failuresLeft-- <= 0;
                                  scheduler.post([done, opened] { done(opened); });
                              },
                              [this](bool lost) { notices.push_back(lost); }}};

    std::vector<int64_t> attemptSeconds(SteadyTime origin) const {
        std::vector<int64_t> out;
        for (SteadyTime t : attempts)
            out.push_back(std::chrono::duration_cast<std::chrono::seconds>(t - origin).count());
        return out;
    }
};

TEST(AudioReconnect, BacksOffDoublingUpToThirtySecondsAndAnnouncesOnlyLongOutages) {
    struct Case {
        int failures;
        std::vector<int64_t> attemptSeconds;
        std::vector<bool> notices;
    };
    // Back at 1 s or 3 s is before the 5 s notice, back at 7 s is after.
    for (const Case& c : {Case{0, {1}, {}}, Case{1, {1, 3}, {}}, Case{2, {1, 3, 7}, {true, false}},
                          Case{1000, {1, 3, 7, 15, 31, 61, 91, 121, 151, 181}, {true}}}) {
        Harness h;
        h.failuresLeft = c.failures;
        const SteadyTime origin = h.scheduler.now();
        h.reconnect.audioLost();
        h.reconnect.audioLost();  // a repeat changes nothing
        h.scheduler.advanceBy(200s);
        EXPECT_EQ(h.attemptSeconds(origin), c.attemptSeconds) << c.failures;
        EXPECT_EQ(h.notices, c.notices) << c.failures;
        EXPECT_EQ(h.reconnect.isLost(), c.failures == 1000) << c.failures;
        if (h.reconnect.isLost()) continue;
        // A later loss starts again from one second.
        const SteadyTime again = h.scheduler.now();
        h.reconnect.audioLost();
        h.scheduler.advanceBy(10s);
        EXPECT_EQ(h.attemptSeconds(again).back(), 1) << c.failures;
    }
}

TEST(AudioReconnect, ResetEndsAttemptsAndIgnoresTheOneInFlight) {
    Harness h;
    h.reconnect.audioLost();
    h.scheduler.advanceBy(6s);  // attempts at 1 and 3 s failed; the loss was announced
    ASSERT_EQ(h.notices, std::vector<bool>{true});
    h.reconnect.reset(false);  // capture stopped without audio: nothing is back
    h.scheduler.advanceBy(100s);
    EXPECT_EQ(h.attempts.size(), 2u);
    EXPECT_EQ(h.notices, std::vector<bool>{true});
    h.reconnect.reset(true);  // a start that opened audio ends the announced loss
    EXPECT_EQ(h.notices, (std::vector<bool>{true, false}));
}

}  // namespace
}  // namespace corvane
