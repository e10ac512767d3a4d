// The capture with the real X11 back end on the Qt main-thread scheduler: a resized window and a
// vanished X server, as a user would meet them.
#include "core/capture/CorvaneCapture.h"

#include <gtest/gtest.h>

#include <iostream>

#include "platform/sched/QtMainScheduler.h"
#include "platform/x11/X11ScreenCapture.h"
#include "support/CaptureFakes.h"
#include "support/CaptureLogLines.h"
#include "platform/capture/XTestSupport.h"  // last: Xlib's macros

namespace corvane {
namespace {

using namespace std::chrono_literals;
using testing::waitUntil;

class CaptureRecoveryTest : public ::testing::Test {
protected:
    void TearDown() override {
        if (HasFailure())
            for (const std::string& line : log.lines()) std::cerr << "  log: " << line << "\n";
    }
    bool start(ScreenCaptureBackend& backend) {
        capture = std::make_unique<CorvaneCapture>(settings, ring,
                                                   CorvaneCapture::Dependencies{backend, nullptr, encoders, scheduler});
        capture->start();
        return waitUntil([&] { return capture->isRunning(); }, 3s);
    }
    // Frames reach the newest encoder.
    bool flowing() {
        const int from = encoders.made.back()->encoded.load();
        return waitUntil([&] { return encoders.made.back()->encoded.load() >= from + 3; }, 3s);
    }

    test::LogCapture log;
    testing::XSession x;
    QtMainScheduler scheduler;
    X11ScreenCaptureBackend screen;
    test::FakeEncoderFactory encoders;
    std::shared_ptr<CorvaneRingBuffer> ring = std::make_shared<CorvaneRingBuffer>(130.0);
    CaptureSettings settings{.fps = 30, .recordAudio = false};
    std::unique_ptr<CorvaneCapture> capture;  // last: goes first
};

TEST_F(CaptureRecoveryTest, ResizedWindowRestartsOnceAtItsNewSize) {
    Window target = x.makeWindow(300, 300, 400, 300, 0x336699, "growing", "Growing", false);
    settings.windowId = uint32_t(target);
    ASSERT_TRUE(start(screen));
    ASSERT_TRUE(flowing());
    XResizeWindow(x.get(), target, 500, 350);
    XSync(x.get(), False);
    ASSERT_TRUE(waitUntil([&] { return log.count("successfully recovered") == 1; }, 5s));
    waitUntil([] { return false; }, 1500ms);  // and nothing more follows
    EXPECT_EQ(log.count("[Corvane] Window resize detected (500x350). Adjusting capture stream..."), 1);
    EXPECT_EQ(log.count("Restarting capture stream"), 1);
    EXPECT_EQ(log.count("Stream interrupted"), 0);
    EXPECT_EQ(encoders.made.back()->settings.width, 500);
    EXPECT_EQ(encoders.made.back()->settings.height, 350);
    EXPECT_TRUE(flowing());
    XDestroyWindow(x.get(), target);
    XSync(x.get(), False);
}

TEST_F(CaptureRecoveryTest, LostServerIsReportedAndRetried) {
    testing::PrivateXServer server;
    ASSERT_FALSE(server.name().empty()) << "no free display number for a private X server";
    X11ScreenCaptureBackend privateScreen(server.name());
    ASSERT_TRUE(start(privateScreen));
    ASSERT_TRUE(flowing());
    server.kill();
    ASSERT_TRUE(waitUntil([&] { return log.count("Recovery attempt 2 failed") == 1; }, 6s));
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
