// The capture with the real X11 back end on the Qt main-thread scheduler: a resized window, a
// closed window and a vanished X server, as a user would meet them.
#include "core/capture/CorvaneCapture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <iostream>
#include <mutex>

#include "core/capture/CaptureFakes.h"
#include "core/log/Log.h"
#include "core/sched/SerialQueue.h"
#include "platform/sched/QtMainScheduler.h"
#include "platform/x11/X11ScreenCapture.h"
// Xlib's macros must come after Qt and the test framework.
#include "platform/capture/XTestSupport.h"

namespace corvane {
namespace {

using namespace std::chrono_literals;

class CaptureRecoveryTest : public ::testing::Test {
protected:
    void SetUp() override {
        setLogSinkForTesting([this](const std::string& line) {
            std::lock_guard lock(logMutex);
            log.push_back(line);
        });
        settings.fps = 30;
        settings.recordAudio = false;
    }
    void TearDown() override {
        capture.reset();
        if (HasFailure()) {
            for (const std::string& line : log) std::cerr << "  log: " << line << "\n";
        }
        setLogSinkForTesting(nullptr);
    }
    void make(ScreenCaptureBackend& backend) {
        capture = std::make_unique<CorvaneCapture>(
            settings, ring, CorvaneCapture::Dependencies{backend, nullptr, encoders, scheduler});
    }
    int count(const std::string& text) {
        std::lock_guard lock(logMutex);
        return int(std::count_if(log.begin(), log.end(), [&](const std::string& l) {
            return l.find(text) != std::string::npos;
        }));
    }
    // Runs the main loop until the condition holds or the time is up.
    bool pumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
        QElapsedTimer timer;
        timer.start();
        while (!condition()) {
            if (timer.elapsed() > timeout.count()) return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            QThread::msleep(5);
        }
        return true;
    }
    void pumpFor(std::chrono::milliseconds duration) {
        pumpUntil([] { return false; }, duration);
    }
    bool startAndWait() {
        auto failure = std::make_shared<std::string>();
        capture->start([failure](const std::optional<CaptureError>& e) {
            if (e) *failure = e->message;  // read after the wait below
        });
        bool running = pumpUntil([&] { return capture->isRunning(); }, 3s);
        if (!running) ADD_FAILURE() << "start failed: " << *failure;
        return running;
    }
    int framesEncoded() { return encoders.made.empty() ? 0 : encoders.made.back()->encoded.load(); }

    testing::XSession x;
    QtMainScheduler scheduler;
    X11ScreenCaptureBackend screen;
    testing::FakeEncoderFactory encoders;
    std::shared_ptr<CorvaneRingBuffer> ring = std::make_shared<CorvaneRingBuffer>(130.0);
    CaptureSettings settings;
    std::unique_ptr<CorvaneCapture> capture;
    std::mutex logMutex;
    std::vector<std::string> log;
};

TEST_F(CaptureRecoveryTest, ResizedWindowRestartsOnceAtItsNewSize) {
    Window target = x.makeWindow(300, 300, 400, 300, 0x336699, "growing", "probe", "Growing", false);
    settings.windowId = uint32_t(target);
    make(screen);
    ASSERT_TRUE(startAndWait());
    ASSERT_TRUE(pumpUntil([&] { return framesEncoded() >= 3; }, 3s));
    EXPECT_EQ(encoders.made.back()->settings.width, 400);

    XResizeWindow(x.get(), target, 500, 350);
    XSync(x.get(), False);
    ASSERT_TRUE(pumpUntil([&] { return count("successfully recovered") == 1; }, 5s));
    pumpFor(1500ms);  // and nothing more follows
    EXPECT_EQ(count("[Corvane] Window resize detected (500x350). Adjusting capture stream..."), 1);
    EXPECT_EQ(count("Restarting capture stream"), 1);
    EXPECT_EQ(count("Stream interrupted"), 0);
    EXPECT_EQ(encoders.made.back()->settings.width, 500);
    EXPECT_EQ(encoders.made.back()->settings.height, 350);
    EXPECT_TRUE(pumpUntil([&] { return framesEncoded() >= 3; }, 3s));
    XDestroyWindow(x.get(), target);
    XSync(x.get(), False);
}

TEST_F(CaptureRecoveryTest, ClosedWindowFallsBackToTheDisplay) {
    Window target = x.makeWindow(300, 300, 320, 200, 0x996633, "doomed", "probe", "Doomed", false);
    settings.windowId = uint32_t(target);
    make(screen);
    ASSERT_TRUE(startAndWait());
    std::string windowText = "window [" + std::to_string(target) + "] Doomed (320x200 @ 30fps)";
    EXPECT_EQ(count(windowText), 1);

    XDestroyWindow(x.get(), target);
    XSync(x.get(), False);
    ASSERT_TRUE(pumpUntil([&] { return count("successfully recovered") == 1; }, 5s));
    EXPECT_EQ(count("[Corvane] Stream interrupted: The captured window was closed"), 1);
    EXPECT_EQ(count("[Corvane] Configured window " + std::to_string(target) +
                    " no longer found. Falling back to display capture."),
              1);
    EXPECT_EQ(count("[Corvane] X11 capture stream started on display ["), 1);
    EXPECT_TRUE(capture->isRunning());
    EXPECT_TRUE(pumpUntil([&] { return framesEncoded() >= 3; }, 3s));
}

// A private X server, so the test can take it away.
class PrivateXServer {
public:
    PrivateXServer() {
        for (int n = 150; n < 250; ++n) {
            std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
            std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
            struct stat st;
            if (stat(socket.c_str(), &st) == 0 || stat(lock.c_str(), &st) == 0) continue;
            name_ = ":" + std::to_string(n);
            pid_ = fork();
            if (pid_ == 0) {
                execlp("Xvfb", "Xvfb", name_.c_str(), "-screen", "0", "640x480x24", "-noreset", "-nolisten",
                       "tcp", static_cast<char*>(nullptr));
                _exit(127);
            }
            for (int i = 0; i < 200 && stat(socket.c_str(), &st) != 0; ++i) usleep(25'000);
            return;
        }
    }
    ~PrivateXServer() { kill(); }
    void kill() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }
    const std::string& name() const { return name_; }

private:
    std::string name_;
    pid_t pid_ = -1;
};

TEST_F(CaptureRecoveryTest, LostServerIsReportedAndRetried) {
    PrivateXServer server;
    X11ScreenCaptureBackend privateScreen(server.name());
    ASSERT_TRUE(privateScreen.isAvailable());
    make(privateScreen);
    ASSERT_TRUE(startAndWait());
    EXPECT_EQ(capture->captureWidth(), 640);
    ASSERT_TRUE(pumpUntil([&] { return framesEncoded() >= 3; }, 3s));

    server.kill();
    ASSERT_TRUE(pumpUntil([&] { return count("Recovery attempt 2 failed") == 1; }, 6s));
    EXPECT_EQ(count("[Corvane] Stream interrupted: Lost the connection to the X server"), 1);
    EXPECT_EQ(count("[Corvane] Recovery attempt 1 failed: Cannot open the X display. Retrying in 1.5s..."), 1);
    EXPECT_FALSE(capture->isRunning());
    EXPECT_TRUE(capture->isRestarting());

    QElapsedTimer timer;
    timer.start();
    capture.reset();  // quitting while recovery is pending stays prompt
    EXPECT_LT(timer.elapsed(), 2000);
}

TEST(X11DisplayCapture, ShrunkScreenStopsTheStreamWithAReason) {
    PrivateXServer server;
    X11ScreenCaptureBackend privateScreen(server.name());
    ASSERT_TRUE(privateScreen.isAvailable());
    auto content = privateScreen.shareableContent();
    ASSERT_TRUE(content.ok());
    testing::FrameCollector frames;
    SerialQueue queue("test-video");  // joined before the collector goes
    VideoStreamConfig config;
    config.displayId = content.value().displays.at(0).id;
    config.width = 640;
    config.height = 480;
    auto stream = privateScreen.openVideo(config, queue, frames.callbacks());
    ASSERT_TRUE(stream.ok());
    ASSERT_TRUE(frames.nextFrame());

    std::string xrandr = "DISPLAY=" + server.name() + " xrandr ";
    ASSERT_EQ(std::system((xrandr + "--newmode 320x240_t 6.00 320 336 368 416 240 243 247 250 && " +
                           xrandr + "--addmode screen 320x240_t && " + xrandr +
                           "--output screen --mode 320x240_t")
                              .c_str()),
              0);
    auto reason = frames.waitForStop();
    ASSERT_TRUE(reason);
    EXPECT_NE(reason->find("Cannot read the display area"), std::string::npos) << *reason;
    stream.value()->stop();
    queue.waitIdle();
}

}  // namespace
}  // namespace corvane
