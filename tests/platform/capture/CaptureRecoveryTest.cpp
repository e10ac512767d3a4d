// The capture with the real X11 back end on the Qt main-thread scheduler: a vanished X server, as
// a user would meet it. (A resized window: its size report is in X11CaptureBackendTest, the
// restart it leads to in tests/core/capture/CaptureRecoveryTest.)
#include "core/capture/CorvaneCapture.h"

#include <gtest/gtest.h>

#include "platform/sched/QtMainScheduler.h"
#include "platform/x11/X11ScreenCapture.h"
#include "support/CaptureFakes.h"
#include "support/CaptureLogLines.h"
#include "platform/capture/XTestSupport.h"  // last: Xlib's macros

namespace corvane {
namespace {

using namespace std::chrono_literals;
using testing::waitUntil;

TEST(CaptureRecoveryTest, LostServerIsReportedAndRetried) {
    test::LogCapture log;
    QtMainScheduler scheduler;
    test::FakeEncoderFactory encoders;
    testing::PrivateXServer server;
    ASSERT_FALSE(server.name().empty()) << "no free display number for a private X server";
    X11ScreenCaptureBackend privateScreen(server.name());
    auto capture = std::make_unique<CorvaneCapture>(CaptureSettings{.fps = 30, .recordAudio = false},
                                                    std::make_shared<CorvaneRingBuffer>(130.0),
                                                    CorvaneCapture::Dependencies{privateScreen, nullptr, encoders, scheduler});
    capture->start();
    ASSERT_TRUE(waitUntil([&] { return capture->isRunning() && encoders.made.back()->encoded.load() >= 3; }, 3s));
    server.kill();
    ASSERT_TRUE(waitUntil([&] { return log.count("Recovery attempt 2 failed") == 1; }, 6s))
        << ::testing::PrintToString(log.lines());
    EXPECT_EQ(log.count("[Corvane] Stream interrupted: Lost the connection to the X server"), 1);
    EXPECT_EQ(log.count("[Corvane] Recovery attempt 1 failed: Cannot open the X display. Retrying in 1.5s..."), 1);
    EXPECT_FALSE(capture->isRunning());
    EXPECT_EQ(log.count("successfully recovered"), 0) << "still recovering: three attempts to go";
    QElapsedTimer timer;
    timer.start();
    capture.reset();  // quitting while recovery is pending stays prompt
    EXPECT_LT(timer.elapsed(), 2000);
}

}  // namespace
}  // namespace corvane
