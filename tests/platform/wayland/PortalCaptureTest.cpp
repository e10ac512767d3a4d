// The portal capture against the real desktop portal, the (patched) wlroots portal back end and
// PipeWire of scripts/with-wayland-session.sh: sway shows a moving client on a 1280x720 headless
// output; the screen chooser is a script that counts how often it is asked (the "dialogs").
#include "platform/wayland/PortalScreenCapture.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "core/capture/CaptureClock.h"
#include "core/sched/SerialQueue.h"
#include "platform/wayland/RestoreTokenFile.h"
#include "support/FrameRecord.h"
#include "support/TempDir.h"

namespace corvane {
namespace {

using namespace std::chrono_literals;
using test::FrameRecord;

// The frames stamped within [fromUs, fromUs + length) on the capture clock.
std::vector<FrameRecord::Frame> stampedWithin(const FrameRecord& log, int64_t fromUs,
                                              std::chrono::microseconds length) {
    std::vector<FrameRecord::Frame> found;
    for (const FrameRecord::Frame& f : log.frames()) {
        const int64_t us = f.pts.convertedTo(kCaptureClockTimescale).value();
        if (us >= fromUs && us < fromUs + length.count()) found.push_back(f);
    }
    return found;
}

int64_t nowUs() { return captureClockNow().convertedTo(kCaptureClockTimescale).value(); }

void sway(const std::string& command) {
    ASSERT_EQ(std::system(("swaymsg -q '" + command + "'").c_str()), 0) << command;
}

class PortalCaptureTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* log = std::getenv("CORVANE_WAYLAND_CHOOSER_LOG");
        const char* answer = std::getenv("CORVANE_WAYLAND_CHOOSER_ANSWER");
        ASSERT_TRUE(std::getenv("WAYLAND_DISPLAY") && log && answer)
            << "run inside scripts/with-wayland-session.sh";
        chooserLog_ = log;
        chooserAnswer_ = answer;
        std::filesystem::remove(chooserAnswer_);
    }
    void TearDown() override { std::filesystem::remove(chooserAnswer_); }

    std::unique_ptr<PortalScreenCaptureBackend> makeBackend() {
        PortalScreenCaptureBackend::Options options;
        options.stateFile = stateFile();
        return std::make_unique<PortalScreenCaptureBackend>(options);
    }
    std::string stateFile() const { return (state_ / "portal.toml").string(); }
    // How often the screen chooser (the system dialog) was asked so far.
    int dialogs() const {
        std::ifstream in(chooserLog_);
        return int(std::count(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>(), '\n'));
    }
    void answerDialogWith(const std::string& answer) { std::ofstream(chooserAnswer_) << answer; }

    // Opens a stream on what the backend offers; fails the test when it cannot (unless told a
    // failure is allowed, when it returns nullptr).
    std::unique_ptr<CaptureStream> open(PortalScreenCaptureBackend& backend, FrameRecord& log, int32_t fps,
                                        DisplayInfo* shown = nullptr, bool mayFail = false) {
        auto content = backend.shareableContent();
        if (mayFail && !content) return nullptr;
        EXPECT_TRUE(content) << content.error().message;
        if (!content) return nullptr;
        EXPECT_EQ(content.value().displays.size(), 1u);
        if (shown) *shown = content.value().displays.at(0);
        VideoStreamConfig config;
        config.fps = fps;
        auto stream = backend.openVideo(config, queue_, log.callbacks());
        if (mayFail && !stream) return nullptr;
        EXPECT_TRUE(stream) << stream.error().message;
        return stream ? stream.takeValue() : nullptr;
    }

    test::TempDir state_;
    std::string chooserLog_;
    std::string chooserAnswer_;
    SerialQueue queue_{"test-video-queue"};
};

// (A still screen keeping the rate: WaylandCaptureToClipTest, in the clip it gives.)
TEST_F(PortalCaptureTest, MovingScreenArrivesAtTheConfiguredRate) {
    auto backend = makeBackend();
    ASSERT_TRUE(backend->isAvailable());
    FrameRecord log{false};
    DisplayInfo display;
    auto stream = open(*backend, log, 20, &display);
    ASSERT_TRUE(stream);
    EXPECT_EQ(std::pair(display.width, display.height), std::pair(1280, 720));
    ASSERT_TRUE(log.waitForFrames(1, 10s)) << "no frame";

    // The portal back end sends up to 30 pictures a second of the moving client; the stream
    // hands over exactly 20, each a step of 1/20 s on the capture clock.
    int64_t from = nowUs();
    std::this_thread::sleep_for(2100ms);
    auto moving = stampedWithin(log, from, 2s);
    EXPECT_GE(moving.size(), 30u);
    EXPECT_LE(moving.size(), 41u);
    std::set<uint64_t> pictures;
    for (const auto& frame : moving) {
        EXPECT_EQ(std::pair(frame.width, frame.height), std::pair(1280, 720));
        pictures.insert(frame.digest);
    }
    EXPECT_GE(pictures.size(), 10u) << "the client moves, so most frames differ";
    for (size_t i = 1; i < moving.size(); ++i) EXPECT_GE((moving[i].pts - moving[i - 1].pts).seconds(), 0.05 - 1e-6);

    stream->stop();
    size_t stoppedAt = log.frames().size();
    std::this_thread::sleep_for(200ms);
    queue_.waitIdle();
    EXPECT_EQ(log.frames().size(), stoppedAt) << "no frame after stop()";
    EXPECT_EQ(log.stopCount(), 0u) << "a deliberate stop is not reported";
}

// A declined dialog is not shown again until access is requested; the screen chosen then is
// remembered across a restart of the program, and a token the portal cannot use asks once.
TEST_F(PortalCaptureTest, ADeclinedDialogWaitsForARequestAndTheChosenScreenIsRemembered) {
    const int before = dialogs();
    {
        auto backend = makeBackend();
        answerDialogWith("");  // the user dismisses the dialog
        auto refused = backend->shareableContent();
        ASSERT_FALSE(refused);
        EXPECT_EQ(refused.error().domain, "Portal");
        FrameRecord log{false};
        EXPECT_FALSE(backend->shareableContent());
        EXPECT_FALSE(backend->openVideo(VideoStreamConfig{}, queue_, log.callbacks()));
        EXPECT_FALSE(backend->isAvailable()) << "the watchdog sees no screen to restart";
        EXPECT_EQ(dialogs(), before + 1) << "no second dialog by itself";

        std::filesystem::remove(chooserAnswer_);
        backend->requestAccess();
        EXPECT_TRUE(backend->isAvailable());
        auto stream = open(*backend, log, 10);
        ASSERT_TRUE(stream);
        EXPECT_EQ(dialogs(), before + 2);
        stream->stop();
    }
    ASSERT_TRUE(RestoreTokenFile(stateFile()).load()) << "the token is kept";
    {
        auto backend = makeBackend();  // as after a restart of the program
        FrameRecord log{false};
        auto stream = open(*backend, log, 10);
        ASSERT_TRUE(stream);
        EXPECT_TRUE(log.waitForFrames(3, 10s));
    }
    EXPECT_EQ(dialogs(), before + 2) << "the token was accepted: no dialog";
    EXPECT_TRUE(RestoreTokenFile(stateFile()).load()) << "the grant's token is kept again";

    // One the portal never issued is ignored; one it cannot read makes it refuse the request,
    // which is then made once more without it. Either way: one dialog, and a good token kept.
    int asked = dialogs();
    for (const char* unusable : {"00000000-0000-4000-8000-000000000000", "corvane-not-a-portal-token"}) {
        ASSERT_TRUE(RestoreTokenFile(stateFile()).save(unusable));
        auto backend = makeBackend();
        FrameRecord log{false};
        auto stream = open(*backend, log, 10);
        ASSERT_TRUE(stream) << unusable;
        EXPECT_EQ(dialogs(), ++asked) << unusable;
        auto kept = RestoreTokenFile(stateFile()).load();
        ASSERT_TRUE(kept) << unusable;
        EXPECT_NE(*kept, unusable);
    }
}

// A change of screen size and the end of the portal's back end each stop the stream with a reason;
// the next start on the same back end has the screen's current size and needs no dialog (the bus
// starts the back end again and the kept token restores the screen).
TEST_F(PortalCaptureTest, ASizeChangeOrTheBackEndsEndStopsTheStreamAndTheNextStartNeedsNoDialog) {
    auto backend = makeBackend();
    FrameRecord log{false};
    auto stream = open(*backend, log, 10);
    ASSERT_TRUE(stream);
    ASSERT_TRUE(log.waitForFrames(2, 10s));
    sway("output HEADLESS-1 resolution 1024x768");
    auto reason = log.waitForStop(10s);
    sway("output HEADLESS-1 resolution 1280x720");  // restored at once; the next start sees it
    ASSERT_TRUE(reason);
    EXPECT_NE(reason->find("changed size"), std::string::npos) << *reason;
    stream->stop();

    FrameRecord again{false};
    DisplayInfo display;
    auto restarted = open(*backend, again, 10, &display);
    ASSERT_TRUE(restarted);
    EXPECT_EQ(display.width, 1280);
    ASSERT_TRUE(again.waitForFrames(3, 10s));
    const int before = dialogs();
    QDBusReply<uint> pid =
        QDBusConnection::sessionBus().interface()->servicePid(QStringLiteral("org.freedesktop.impl.portal.desktop.wlr"));
    ASSERT_TRUE(pid.isValid()) << pid.error().message().toStdString();
    ASSERT_EQ(::kill(pid_t(pid.value()), SIGKILL), 0);
    auto ended = again.waitForStop(10s);
    ASSERT_TRUE(ended) << "the end of the cast is reported";
    EXPECT_FALSE(ended->empty());
    restarted->stop();
    EXPECT_EQ(again.stopCount(), 1u) << "reported once";

    // The portal's front end may go down itself at the first call after its back end died (the
    // call gets no reply); capture's recovery retries a failed start, and so does this test, once.
    FrameRecord third{false};
    auto recovered = open(*backend, third, 10, nullptr, true);
    if (!recovered) recovered = open(*backend, third, 10);
    ASSERT_TRUE(recovered);
    EXPECT_TRUE(third.waitForFrames(3, 10s));
    EXPECT_EQ(dialogs(), before);
}

}  // namespace
}  // namespace corvane
