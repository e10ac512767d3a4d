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

    // Opens a stream on what the backend offers; fails the test when it cannot.
    std::unique_ptr<CaptureStream> open(PortalScreenCaptureBackend& backend, FrameRecord& log, int32_t fps,
                                        DisplayInfo* shown = nullptr) {
        auto content = backend.shareableContent();
        EXPECT_TRUE(content) << content.error().message;
        if (!content) return nullptr;
        EXPECT_EQ(content.value().displays.size(), 1u);
        if (shown) *shown = content.value().displays.at(0);
        VideoStreamConfig config;
        config.fps = fps;
        auto stream = backend.openVideo(config, queue_, log.callbacks());
        EXPECT_TRUE(stream) << stream.error().message;
        return stream ? stream.takeValue() : nullptr;
    }

    test::TempDir state_;
    std::string chooserLog_;
    std::string chooserAnswer_;
    SerialQueue queue_{"test-video-queue"};
};

TEST_F(PortalCaptureTest, MovingScreenArrivesAtTheConfiguredRateAndAStillOneKeepsIt) {
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

    // An empty workspace changes nothing on screen: PipeWire goes quiet, the frames keep coming.
    sway("workspace 2");
    std::this_thread::sleep_for(500ms);
    from = nowUs();
    std::this_thread::sleep_for(1600ms);
    auto still = stampedWithin(log, from, 1500ms);
    sway("workspace 1");
    EXPECT_GE(still.size(), 22u);
    std::set<uint64_t> stillPictures;
    for (const auto& frame : still) stillPictures.insert(frame.digest);
    EXPECT_EQ(stillPictures.size(), 1u) << "a still screen repeats one picture";

    stream->stop();
    size_t stoppedAt = log.frames().size();
    std::this_thread::sleep_for(200ms);
    queue_.waitIdle();
    EXPECT_EQ(log.frames().size(), stoppedAt) << "no frame after stop()";
    EXPECT_EQ(log.stopCount(), 0u) << "a deliberate stop is not reported";
}

TEST_F(PortalCaptureTest, TheChosenScreenIsRememberedAndAnUnusableTokenAsksOnce) {
    const int before = dialogs();
    {
        auto backend = makeBackend();
        FrameRecord log{false};
        auto stream = open(*backend, log, 10);
        ASSERT_TRUE(stream);
        stream->stop();
    }
    EXPECT_EQ(dialogs(), before + 1) << "the first start asks";
    auto first = RestoreTokenFile(stateFile()).load();
    ASSERT_TRUE(first) << "the token is kept";

    {
        auto backend = makeBackend();  // as after a restart of the program
        FrameRecord log{false};
        auto stream = open(*backend, log, 10);
        ASSERT_TRUE(stream);
        EXPECT_TRUE(log.waitForFrames(3, 10s));
    }
    EXPECT_EQ(dialogs(), before + 1) << "the token was accepted: no dialog";
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

TEST_F(PortalCaptureTest, ADeclinedDialogIsNotShownAgainUntilAccessIsRequested) {
    auto backend = makeBackend();
    const int before = dialogs();
    answerDialogWith("");  // the user dismisses the dialog
    auto refused = backend->shareableContent();
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().domain, "Portal");
    EXPECT_EQ(dialogs(), before + 1);

    FrameRecord log{false};
    VideoStreamConfig config;
    EXPECT_FALSE(backend->shareableContent());
    EXPECT_FALSE(backend->openVideo(config, queue_, log.callbacks()));
    EXPECT_FALSE(backend->isAvailable()) << "the watchdog sees no screen to restart";
    EXPECT_EQ(dialogs(), before + 1) << "no second dialog by itself";

    std::filesystem::remove(chooserAnswer_);
    backend->requestAccess();
    EXPECT_TRUE(backend->isAvailable());
    auto stream = open(*backend, log, 10);
    ASSERT_TRUE(stream);
    EXPECT_EQ(dialogs(), before + 2);
    EXPECT_TRUE(log.waitForFrames(3, 10s));
}

TEST_F(PortalCaptureTest, EndingThePortalBackEndStopsTheStreamAndTheNextStartNeedsNoDialog) {
    auto backend = makeBackend();
    FrameRecord log{false};
    auto stream = open(*backend, log, 10);
    ASSERT_TRUE(stream);
    ASSERT_TRUE(log.waitForFrames(3, 10s));
    const int before = dialogs();

    QDBusReply<uint> pid =
        QDBusConnection::sessionBus().interface()->servicePid(QStringLiteral("org.freedesktop.impl.portal.desktop.wlr"));
    ASSERT_TRUE(pid.isValid()) << pid.error().message().toStdString();
    ASSERT_EQ(::kill(pid_t(pid.value()), SIGKILL), 0);

    auto reason = log.waitForStop(10s);
    ASSERT_TRUE(reason) << "the end of the cast is reported";
    EXPECT_FALSE(reason->empty());
    stream->stop();
    EXPECT_EQ(log.stopCount(), 1u) << "reported once";

    // Recovery: the bus starts the back end again; the kept token restores the screen.
    FrameRecord again{false};
    auto restarted = open(*backend, again, 10);
    ASSERT_TRUE(restarted);
    EXPECT_TRUE(again.waitForFrames(3, 10s));
    EXPECT_EQ(dialogs(), before);
}

TEST_F(PortalCaptureTest, AScreenSizeChangeStopsTheStreamAndTheNextStartHasTheNewSize) {
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
    EXPECT_TRUE(again.waitForFrames(2, 10s));
}

}  // namespace
}  // namespace corvane
