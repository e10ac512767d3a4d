#include "core/shortcuts/ShortcutRebinder.h"

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "core/sched/ManualScheduler.h"
#include "support/CaptureLogLines.h"

namespace corvane {
namespace {

using namespace std::chrono_literals;
using Outcome = ShortcutRebinder::Outcome;

struct Harness {
    ManualScheduler scheduler;
    test::LogCapture log;
    std::vector<SteadyTime> attempts;
    std::deque<Outcome> answers;  // one per attempt; failed when none is left
    bool holdAnswers = false;     // keep the completion in `held` instead of answering
    std::function<void(Outcome)> held;
    std::unique_ptr<ShortcutRebinder> rebinder =
        std::make_unique<ShortcutRebinder>(scheduler, [this](std::function<void(Outcome)> done) {
            attempts.push_back(scheduler.now());
            if (holdAnswers) {
                held = std::move(done);
                return;
            }
            const Outcome outcome = answers.empty() ? Outcome::failed : answers.front();
            if (!answers.empty()) answers.pop_front();
            scheduler.post([done, outcome] { done(outcome); });  // the desktop answers later
        });

    std::vector<int64_t> attemptSeconds(SteadyTime origin) const {
        std::vector<int64_t> out;
        for (SteadyTime t : attempts) {
            if (t >= origin) out.push_back(std::chrono::duration_cast<std::chrono::seconds>(t - origin).count());
        }
        return out;
    }
};

TEST(ShortcutRebinder, EachOutcomeEndsTriesAgainOrWaits) {
    struct Case {
        std::deque<Outcome> answers;
        std::vector<int64_t> attemptSeconds;
        bool stillRebinding;
        std::string logged;
    };
    const std::vector<Case> cases{
        // Failures only: 1 s, 2 s, 4 s ... apart, capped at a minute, ten in all.
        {{}, {1, 3, 7, 15, 31, 63, 123, 183, 243, 303}, false, "Gave up binding the global shortcuts again after 10"},
        {{Outcome::bound}, {1}, false, "Global shortcuts are bound again."},
        {{Outcome::failed, Outcome::failed, Outcome::bound}, {1, 3, 7}, false, "Global shortcuts are bound again."},
        // The user turned the dialog down: not asked again.
        {{Outcome::failed, Outcome::declined}, {1, 3}, false, "dialog for the global shortcuts was declined"},
        // No service on the bus: no timer spins until it is back.
        {{Outcome::noService}, {1}, true, "bound again when it is back"},
    };
    for (const Case& c : cases) {
        Harness h;
        h.answers = c.answers;
        const SteadyTime origin = h.scheduler.now();
        h.rebinder->bindingsLost();
        h.rebinder->bindingsLost();  // a repeat changes nothing
        h.scheduler.advanceBy(1000s);
        EXPECT_EQ(h.attemptSeconds(origin), c.attemptSeconds) << c.logged;
        EXPECT_EQ(h.rebinder->isRebinding(), c.stillRebinding) << c.logged;
        EXPECT_EQ(h.log.count(c.logged), 1) << c.logged;
        EXPECT_EQ(h.scheduler.pendingCount(), 0u) << c.logged;  // no timer left running
    }
}

TEST(ShortcutRebinder, TheServiceComingBackBringsTheNextAttemptNear) {
    Harness h;
    h.answers = {Outcome::noService, Outcome::failed, Outcome::failed, Outcome::failed};
    h.rebinder->serviceAppeared();  // nothing is lost: nothing to do
    h.scheduler.advanceBy(100s);
    ASSERT_TRUE(h.attempts.empty());

    h.rebinder->bindingsLost();
    h.scheduler.advanceBy(5s);  // the attempt at 1 s found no service
    h.rebinder->setSuspended(true);
    h.rebinder->setSuspended(false);  // resuming does not start one either
    h.scheduler.advanceBy(500s);
    ASSERT_EQ(h.attempts.size(), 1u);
    SteadyTime back = h.scheduler.now();
    h.rebinder->serviceAppeared();
    h.scheduler.advanceBy(10s);  // 1 s after its return, then the backoff goes on (2 s, 4 s)
    EXPECT_EQ(h.attemptSeconds(back), (std::vector<int64_t>{1, 3, 7}));

    // Back (a restart) during a long delay: the next attempt is near, the one after follows on.
    back = h.scheduler.now();
    h.answers = {Outcome::bound};
    h.rebinder->serviceAppeared();
    h.scheduler.advanceBy(100s);
    EXPECT_EQ(h.attemptSeconds(back), (std::vector<int64_t>{1}));
    EXPECT_FALSE(h.rebinder->isRebinding());
}

TEST(ShortcutRebinder, ADesktopThatKeepsDroppingTheSetIsNotAskedInALoop) {
    Harness h;
    h.answers.assign(20, Outcome::bound);
    const SteadyTime origin = h.scheduler.now();
    for (int i = 0; i < 11; ++i) {
        h.rebinder->bindingsLost();  // dropped again within the minute each time it is back
        h.scheduler.advanceBy(60s);
    }
    EXPECT_EQ(h.attemptSeconds(origin).size(), 10u);
    EXPECT_EQ(h.log.count("Gave up binding the global shortcuts again after 10 attempts"), 1);

    // A set kept for a minute ends the count: the next loss starts again from one second.
    Harness kept;
    kept.answers = {Outcome::failed, Outcome::bound, Outcome::bound, Outcome::bound};
    kept.rebinder->bindingsLost();
    kept.scheduler.advanceBy(3s);  // failed at 1 s, bound at 3 s
    SteadyTime lost = kept.scheduler.now() + 10s;
    kept.scheduler.advanceBy(10s);
    kept.rebinder->bindingsLost();  // within the minute: the delays go on (4 s)
    kept.scheduler.advanceBy(70s);
    EXPECT_EQ(kept.attemptSeconds(lost), (std::vector<int64_t>{4}));
    lost = kept.scheduler.now();
    kept.rebinder->bindingsLost();
    kept.scheduler.advanceBy(10s);
    EXPECT_EQ(kept.attemptSeconds(lost), (std::vector<int64_t>{1}));
}

TEST(ShortcutRebinder, ReplacingTheSetEndsTheAttemptsAndSuspendingPausesThem) {
    Harness h;
    h.holdAnswers = true;
    h.rebinder->bindingsLost();
    h.scheduler.advanceBy(1s);
    ASSERT_TRUE(h.held);
    h.rebinder->stop();  // a new set: the answer to the old attempt is ignored
    h.held(Outcome::bound);
    EXPECT_EQ(h.log.count("bound again"), 0);
    EXPECT_EQ(h.scheduler.pendingCount(), 0u);
    h.rebinder->bindingsLost();  // a later loss starts afresh and is not answered by the old attempt
    h.held(Outcome::bound);
    h.scheduler.advanceBy(0s);
    EXPECT_TRUE(h.rebinder->isRebinding());
    h.rebinder->stop();

    // Suspended before the attempt: none runs until resumed, then one a second later.
    h.holdAnswers = false;
    h.rebinder->bindingsLost();
    h.rebinder->setSuspended(true);
    EXPECT_EQ(h.scheduler.pendingCount(), 0u);
    h.scheduler.advanceBy(100s);
    EXPECT_EQ(h.attempts.size(), 1u);
    const SteadyTime resumed = h.scheduler.now();
    h.answers = {Outcome::bound};
    h.rebinder->setSuspended(false);
    h.scheduler.advanceBy(10s);
    EXPECT_EQ(h.attemptSeconds(resumed), (std::vector<int64_t>{1}));

    // Gone while an attempt is out: its answer does nothing.
    h.holdAnswers = true;
    h.scheduler.advanceBy(100s);  // the set was kept: the count starts afresh
    h.rebinder->bindingsLost();
    h.scheduler.advanceBy(1s);
    ASSERT_TRUE(h.held);
    h.rebinder.reset();
    h.held(Outcome::bound);
    EXPECT_EQ(h.log.count("bound again"), 1);
}

}  // namespace
}  // namespace corvane
