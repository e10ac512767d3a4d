#include "core/capture/CaptureRecovery.h"

#include <gtest/gtest.h>

#include "core/replay/ReplayTestSupport.h"
#include "core/sched/ManualScheduler.h"

namespace corvane {
namespace {

using namespace std::chrono_literals;

// Answers every step one main-thread turn later, as the real capture does from its lane.
class ScriptedCapture final : public RecoverableCapture {
public:
    explicit ScriptedCapture(ManualScheduler& main) : main_(main) {}

    bool isRunning() const override { return running; }
    bool isStartPending() const override { return false; }
    void stopForRestart(std::function<void()> done) override {
        ++stops;
        running = false;
        main_.post(std::move(done));
    }
    void startForRestart(std::function<void(const std::optional<CaptureError>&)> done) override {
        ++starts;
        if (onStart) std::exchange(onStart, nullptr)();
        std::optional<CaptureError> error;
        if (failStarts) error = CaptureError{"X11", 5, "grab refused"};
        running = !error;
        main_.post([done = std::move(done), error] { done(error); });
    }
    void checkAccess(std::function<void(bool)> done) override {
        ++accessChecks;
        main_.post([done = std::move(done)] { done(true); });
    }

    bool running = true, failStarts = false;
    int stops = 0, starts = 0, accessChecks = 0;
    std::function<void()> onStart;  // runs inside the next start, as if the user acted then

private:
    ManualScheduler& main_;
};

class RecoveryTest : public ::testing::Test {
protected:
    test::LogCapture log;
    ManualScheduler sched;
    ScriptedCapture capture{sched};
    CaptureRecovery recovery{sched, capture};
};

TEST_F(RecoveryTest, FiveAttemptsThenQuietUntilTheWatchdog) {
    capture.failStarts = true;
    recovery.requestRestart();
    sched.runDue();
    EXPECT_EQ(log.count("[Corvane] Restarting capture stream..."), 1);
    EXPECT_EQ(capture.stops, 1);
    const SteadyTime begun = sched.now();
    sched.advanceBy(7999ms);
    for (int n = 1; n <= 5; ++n)
        EXPECT_EQ(log.count("[Corvane] Recovery attempt " + std::to_string(n) +
                            " failed: grab refused. Retrying in 1.5s..."), 1);
    recovery.checkHealth(false);  // silent while restarting
    EXPECT_EQ(capture.accessChecks, 0);
    sched.advanceBy(1ms);
    EXPECT_EQ(sched.now() - begun, 8000ms) << "0.5 s + 5 x 1.5 s";
    EXPECT_EQ(capture.starts, 5);
    EXPECT_EQ(log.count("Recovery attempt 6"), 0);

    recovery.checkHealth(true);  // asleep: nothing
    sched.runDue();
    EXPECT_EQ(capture.accessChecks, 0);

    // (Without access the watchdog stays silent: CorvaneCaptureTest, with the real access check.)
    capture.failStarts = false;
    recovery.checkHealth(false);
    sched.runDue();
    EXPECT_EQ(log.count("[Corvane] Watchdog: Stream is idle. Triggering auto-recovery..."), 1);
    sched.advanceBy(500ms);
    EXPECT_TRUE(capture.running);
    EXPECT_EQ(log.count("[Corvane] Capture stream successfully recovered."), 1);
    recovery.checkHealth(false);  // running: nothing to do
    sched.runDue();
    EXPECT_EQ(log.count("Watchdog"), 1);
}

TEST_F(RecoveryTest, ADeliberateStopEndsARecoveryForGood) {
    capture.failStarts = true;
    recovery.requestRestart();
    sched.advanceBy(600ms);
    EXPECT_EQ(log.count("Recovery attempt 1 failed"), 1);
    recovery.noteDeliberateStop();  // sleep or quit while pausing between attempts
    capture.failStarts = false;
    sched.advanceBy(10s);
    EXPECT_EQ(log.count("Recovery attempt 2"), 0);
    EXPECT_EQ(capture.starts, 1);
    EXPECT_FALSE(capture.running);

    // A watchdog answer that arrives after a deliberate stop does not restart either.
    recovery.checkHealth(false);
    recovery.noteDeliberateStop();
    sched.runDue();
    EXPECT_EQ(log.count("Watchdog"), 0);
}

TEST_F(RecoveryTest, RestartDuringRestartRunsOnceMore) {
    // While the restart's start is on its way, another restart is asked for.
    capture.onStart = [this] { recovery.requestRestart(); };
    recovery.requestRestart();
    sched.advanceBy(1s);
    EXPECT_EQ(log.count("[Corvane] Restarting capture stream..."), 2);
    EXPECT_EQ(capture.stops, 2);
    EXPECT_EQ(capture.starts, 2);
    EXPECT_TRUE(capture.running);

    // A restart asked during the pause ends the pending one early and runs one fresh restart.
    recovery.requestRestart();
    sched.advanceBy(200ms);
    recovery.requestRestart();
    sched.advanceBy(499ms);
    EXPECT_EQ(capture.starts, 2);
    sched.advanceBy(1ms);
    EXPECT_EQ(capture.starts, 3);
    EXPECT_EQ(log.count("Restarting capture stream"), 4);
    sched.advanceBy(5s);
    EXPECT_EQ(capture.starts, 3);
}

TEST(WindowResizeRules, Thresholds) {
    // In order, from the first (the baseline); without a scale only the size counts, and the last
    // recorded scale (1.95) is kept.
    const std::tuple<double, double, std::optional<double>, bool> reports[] = {
        {800, 600, 2.0, false}, {803, 600, 2.0, false}, {804, 600, 2.0, true}, {804, 600, 1.96, false},
        {804, 600, 1.95, true}, {804, 597, std::nullopt, false}, {804, 596, std::nullopt, true}, {804, 596, 1.97, false}};
    WindowResizeDetector d;
    for (const auto& [w, h, scale, changed] : reports) EXPECT_EQ(d.report(w, h, scale), changed) << w << "x" << h;
}

TEST_F(RecoveryTest, ResizeBurstGivesOneRestartHalfASecondAfterTheLast) {
    bool current = true;
    auto stillCurrent = [&current] { return current; };
    for (int i = 1; i <= 10; ++i) {
        sched.advanceBy(100ms);
        recovery.windowResized(800.0 + 10 * i, 600, stillCurrent);
    }
    sched.advanceBy(499ms);
    EXPECT_EQ(log.count("Window resize"), 0);
    sched.advanceBy(1ms);
    EXPECT_EQ(log.count("[Corvane] Window resize detected (900x600). Adjusting capture stream..."), 1);
    sched.advanceBy(2s);
    EXPECT_EQ(log.count("Restarting capture stream"), 1);

    // A change seen just before a stop (or a new start) is dropped with its stream.
    recovery.windowResized(950, 600, stillCurrent);
    current = false;
    sched.advanceBy(2s);
    recovery.windowResized(990, 600, stillCurrent);
    sched.advanceBy(2s);
    EXPECT_EQ(log.count("Window resize"), 1);
}

}  // namespace
}  // namespace corvane
