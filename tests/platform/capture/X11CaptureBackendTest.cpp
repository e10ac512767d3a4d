// The X11 back end against the session's Xvfb: displays, window list, captured pixels, stop reports.
#include "platform/x11/X11ScreenCapture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <thread>

#include "core/capture/CaptureClock.h"
#include "core/sched/SerialQueue.h"
// Xlib's macros (None, Bool, Status) must come after the test framework.
#include "platform/capture/XTestSupport.h"
#include <X11/extensions/Xrandr.h>

namespace corvane {
namespace {

using namespace std::chrono_literals;
using testing::FrameCollector;
using testing::XSession;

constexpr uint32_t kRed = 0xff0000;
constexpr uint32_t kGreen = 0x00ff00;
constexpr uint32_t kBlue = 0x0000ff;

class X11CaptureTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(x.get(), nullptr) << "no X server: run inside scripts/with-test-session.sh";
    }
    void TearDown() override {
        for (Window w : windows) XDestroyWindow(x.get(), w);
        XDeleteProperty(x.get(), x.root(), XInternAtom(x.get(), "_NET_CLIENT_LIST", False));
        XSync(x.get(), False);
    }
    Window window(int px, int py, int w, int h, unsigned long rgb, const std::string& title = {},
                  const std::string& instance = {}, const std::string& klass = {},
                  bool overrideRedirect = true) {
        Window id = x.makeWindow(px, py, w, h, rgb, title, instance, klass, overrideRedirect);
        windows.push_back(id);
        return id;
    }
    DisplayInfo mainDisplay() {
        auto content = backend.shareableContent();
        EXPECT_TRUE(content.ok());
        return content.value().displays.at(0);
    }

    // A fresh collector that outlives every frame queued for it: the queue below is destroyed
    // (joined) first.
    FrameCollector& collector() { return collectors.emplace_back(); }

    XSession x;
    X11ScreenCaptureBackend backend;
    std::deque<FrameCollector> collectors;
    SerialQueue queue{"test-video"};
    std::vector<Window> windows;
};

TEST_F(X11CaptureTest, DisplaysAreRandrOutputsMainFirst) {
    EXPECT_TRUE(backend.isAvailable());
    EXPECT_FALSE(X11ScreenCaptureBackend(":4711").isAvailable());

    auto content = backend.shareableContent();
    ASSERT_TRUE(content.ok());
    const auto& displays = content.value().displays;
    ASSERT_FALSE(displays.empty());
    EXPECT_TRUE(displays[0].isMain);
    EXPECT_EQ(std::count_if(displays.begin(), displays.end(), [](auto& d) { return d.isMain; }), 1);
    EXPECT_EQ(content.value().mainDisplayId(), displays[0].id);

    XRRScreenResources* res = XRRGetScreenResourcesCurrent(x.get(), x.root());
    ASSERT_NE(res, nullptr);
    std::vector<RROutput> outputs(res->outputs, res->outputs + res->noutput);
    XRRFreeScreenResources(res);
    for (const DisplayInfo& d : displays) {
        EXPECT_NE(std::find(outputs.begin(), outputs.end(), RROutput(d.id)), outputs.end())
            << "display id " << d.id << " is not an XRandR output";
    }
    EXPECT_EQ(displays[0].width, DisplayWidth(x.get(), 0));
    EXPECT_EQ(displays[0].height, DisplayHeight(x.get(), 0));
}

TEST_F(X11CaptureTest, WindowListCarriesTitleAndApplication) {
    // Ordinary (managed) windows; override-redirect ones are menus and tooltips, never listed.
    Window shown = window(40, 700, 160, 120, kBlue, "Prüfung – Fenster", "probe", "CorvaneProbe", false);
    Window unmapped = window(40, 850, 160, 120, kBlue, "gone", "probe", "Hidden", false);
    Window popup = window(240, 850, 160, 120, kBlue, "menu", "probe", "Popup");
    XUnmapWindow(x.get(), unmapped);
    XSync(x.get(), False);

    auto content = backend.shareableContent();
    ASSERT_TRUE(content.ok());
    const WindowInfo* info = content.value().findWindow(uint32_t(shown));
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->title, "Prüfung – Fenster");
    EXPECT_EQ(info->appName, "CorvaneProbe");
    EXPECT_EQ(info->x, 40);
    EXPECT_EQ(info->y, 700);
    EXPECT_EQ(info->width, 160);
    EXPECT_EQ(info->height, 120);
    EXPECT_EQ(content.value().findWindow(uint32_t(unmapped)), nullptr);
    EXPECT_EQ(content.value().findWindow(uint32_t(popup)), nullptr);

    // With a window manager's client list, that list rules, and hidden (minimised) clients drop out.
    Window minimised = window(240, 700, 160, 120, kGreen, "mini", "probe", "Minimised", false);
    Atom hidden = XInternAtom(x.get(), "_NET_WM_STATE_HIDDEN", False);
    XChangeProperty(x.get(), minimised, XInternAtom(x.get(), "_NET_WM_STATE", False), XA_ATOM, 32,
                    PropModeReplace, reinterpret_cast<unsigned char*>(&hidden), 1);
    Window clients[] = {minimised, shown};
    XChangeProperty(x.get(), x.root(), XInternAtom(x.get(), "_NET_CLIENT_LIST", False), XA_WINDOW,
                    32, PropModeReplace, reinterpret_cast<unsigned char*>(clients), 2);
    XSync(x.get(), False);
    auto managed = backend.shareableContent();
    ASSERT_TRUE(managed.ok());
    ASSERT_EQ(managed.value().windows.size(), 1u);
    EXPECT_EQ(managed.value().windows[0].id, uint32_t(shown));
}

TEST_F(X11CaptureTest, DisplayCaptureShowsDrawnPixelsAtFullSize) {
    window(120, 400, 200, 150, kRed);
    XWarpPointer(x.get(), None, x.root(), 0, 0, 0, 0, 1000, 900);
    XSync(x.get(), False);
    DisplayInfo display = mainDisplay();

    FrameCollector& frames = collector();
    VideoStreamConfig config;
    config.displayId = display.id;
    config.width = 1280;  // the encoder scales; the grab is the display's native area
    config.height = 720;
    config.fps = 30;
    config.showsCursor = false;
    auto stream = backend.openVideo(config, queue, frames.callbacks());
    ASSERT_TRUE(stream.ok()) << stream.error().message;
    auto frame = frames.nextFrame(2);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->width, display.width);
    EXPECT_EQ(frame->height, display.height);
    EXPECT_EQ(frame->rgbAt(121, 401), kRed);
    EXPECT_EQ(frame->rgbAt(319, 549), kRed);
    EXPECT_NE(frame->rgbAt(119, 399), kRed);
    EXPECT_NE(frame->rgbAt(321, 551), kRed);
    EXPECT_FALSE(frame->content);  // only window capture reports a content size
    EXPECT_EQ(frame->rgbAt(1004, 904), 0u);  // no cursor asked for: plain black root
    MediaTime now = captureClockNow();
    EXPECT_LT(std::abs((now - frame->pts).seconds()), 1.0);  // stamped on the monotonic clock
    stream.value()->stop();

    config.showsCursor = true;
    FrameCollector& withCursor = collector();
    auto cursorStream = backend.openVideo(config, queue, withCursor.callbacks());
    ASSERT_TRUE(cursorStream.ok());
    auto drawn = withCursor.nextFrame(2);
    ASSERT_TRUE(drawn);
    int marked = 0;
    for (int py = 880; py < 930; ++py)
        for (int px = 980; px < 1030; ++px) marked += drawn->rgbAt(px, py) != 0;
    EXPECT_GT(marked, 10) << "the cursor should be drawn into the frame";
    cursorStream.value()->stop();
}

TEST_F(X11CaptureTest, DisplayCaptureKeepsItsRate) {
    FrameCollector& frames = collector();
    frames.copyPixels = false;
    VideoStreamConfig config;
    config.displayId = mainDisplay().id;
    config.width = 1920;
    config.height = 1080;
    config.fps = 30;
    auto stream = backend.openVideo(config, queue, frames.callbacks());
    ASSERT_TRUE(stream.ok());
    ASSERT_TRUE(frames.nextFrame());
    auto stamps0 = frames.stamps().size();
    std::this_thread::sleep_for(3s);
    auto stamps = frames.stamps();
    stream.value()->stop();
    double delivered = double(stamps.size() - stamps0);
    EXPECT_NEAR(delivered, 3.0 * config.fps, 0.3 * config.fps);
    for (size_t i = 1; i < stamps.size(); ++i) EXPECT_LT(stamps[i - 1], stamps[i]);
}

TEST_F(X11CaptureTest, CoveredWindowKeepsItsContent) {
    Window target = window(600, 400, 320, 240, kGreen, "target", "probe", "Target");
    window(700, 450, 150, 100, kBlue);  // on top of part of the target
    FrameCollector& frames = collector();
    VideoStreamConfig config;
    config.windowId = uint32_t(target);
    config.width = 320;
    config.height = 240;
    config.fps = 30;
    config.showsCursor = false;
    auto stream = backend.openVideo(config, queue, frames.callbacks());
    ASSERT_TRUE(stream.ok()) << stream.error().message;
    auto frame = frames.nextFrame(3);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->width, 320);
    EXPECT_EQ(frame->height, 240);
    ASSERT_TRUE(frame->content);
    EXPECT_EQ(frame->content->width, 320);
    EXPECT_EQ(frame->content->height, 240);
    EXPECT_FALSE(frame->content->scale);
    EXPECT_EQ(frame->rgbAt(5, 5), kGreen);
    EXPECT_EQ(frame->rgbAt(150, 100), kGreen);  // under the blue window

    // Content size follows the window at once; the frame keeps the opened size at most.
    XResizeWindow(x.get(), target, 200, 100);
    XSync(x.get(), False);
    frame = frames.nextFrame(3);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->content->width, 200);
    EXPECT_EQ(frame->content->height, 100);
    EXPECT_EQ(frame->width, 200);
    EXPECT_EQ(frame->height, 100);
    EXPECT_FALSE(frames.waitForStop(0ms));
    stream.value()->stop();
}

TEST_F(X11CaptureTest, WindowStreamReportsWhyItEnded) {
    Window closing = window(100, 100, 200, 200, kBlue);
    FrameCollector& closed = collector();
    VideoStreamConfig config;
    config.windowId = uint32_t(closing);
    config.width = 200;
    config.height = 200;
    auto first = backend.openVideo(config, queue, closed.callbacks());
    ASSERT_TRUE(first.ok());
    ASSERT_TRUE(closed.nextFrame());
    XDestroyWindow(x.get(), closing);
    windows.erase(std::find(windows.begin(), windows.end(), closing));
    XSync(x.get(), False);
    EXPECT_EQ(closed.waitForStop(), "The captured window was closed");
    first.value()->stop();

    Window hiding = window(100, 100, 200, 200, kBlue);
    FrameCollector& hidden = collector();
    config.windowId = uint32_t(hiding);
    auto second = backend.openVideo(config, queue, hidden.callbacks());
    ASSERT_TRUE(second.ok());
    ASSERT_TRUE(hidden.nextFrame());
    XUnmapWindow(x.get(), hiding);
    XSync(x.get(), False);
    EXPECT_EQ(hidden.waitForStop(), "The captured window is no longer on screen");

    // A deliberate stop is never reported.
    Window kept = window(100, 100, 200, 200, kBlue);
    FrameCollector& stopped = collector();
    config.windowId = uint32_t(kept);
    auto third = backend.openVideo(config, queue, stopped.callbacks());
    ASSERT_TRUE(third.ok());
    ASSERT_TRUE(stopped.nextFrame());
    third.value()->stop();
    XDestroyWindow(x.get(), kept);
    windows.pop_back();
    XSync(x.get(), False);
    EXPECT_FALSE(stopped.waitForStop(300ms));

    config.windowId = 0x7ffffff;  // no such window
    auto missing = backend.openVideo(config, queue, stopped.callbacks());
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().domain, "X11");
}

}  // namespace
}  // namespace corvane
