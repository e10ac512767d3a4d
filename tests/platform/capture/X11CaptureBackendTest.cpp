#include "platform/x11/X11ScreenCapture.h"

#include <cstring>

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>

#include "core/capture/CaptureClock.h"
#include "core/sched/SerialQueue.h"
#include "platform/events/RandrDisplayWatcher.h"
#include "platform/x11/ShmFramePool.h"
#include "support/FrameRecord.h"
#include "platform/capture/XTestSupport.h"  // last: Xlib's macros

namespace corvane {
namespace {

using namespace std::chrono_literals;
using test::FrameRecord;

constexpr uint32_t kRed = 0xff0000, kGreen = 0x00ff00, kBlue = 0x0000ff;

class X11CaptureTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(x.get(), nullptr) << "no X server: run inside scripts/with-test-session.sh"; }
    void TearDown() override {
        for (Window w : windows) XDestroyWindow(x.get(), w);
        XDeleteProperty(x.get(), x.root(), XInternAtom(x.get(), "_NET_CLIENT_LIST", False));
        XSync(x.get(), False);
    }
    Window window(int px, int py, int w, int h, unsigned long rgb, const std::string& title = {},
                  const std::string& klass = {}, bool overrideRedirect = true) {
        return windows.emplace_back(x.makeWindow(px, py, w, h, rgb, title, klass, overrideRedirect));
    }
    void forget(Window w) { windows.erase(std::find(windows.begin(), windows.end(), w)); }
    // Opens a stream into a fresh collector that outlives every frame queued for it (the queue
    // below is joined first).
    std::pair<CaptureResult<std::unique_ptr<CaptureStream>>, FrameRecord*> open(uint32_t displayId, uint32_t windowId,
                                                                                  int w, int h, bool cursor = false,
                                                                                  X11ScreenCaptureBackend* on = nullptr) {
        VideoStreamConfig config;
        config.displayId = displayId;
        config.windowId = windowId;
        config.width = w;
        config.height = h;
        config.fps = 30;
        config.showsCursor = cursor;
        FrameRecord& frames = collectors.emplace_back();
        return {(on ? *on : backend).openVideo(config, queue, frames.callbacks()), &frames};
    }

    testing::XSession x;
    X11ScreenCaptureBackend backend;
    std::deque<FrameRecord> collectors;
    SerialQueue queue{"test-video"};
    std::vector<Window> windows;
};

TEST_F(X11CaptureTest, WindowListCarriesTitleAndApplication) {
    // Ordinary (managed) windows; override-redirect ones are menus and tooltips, never listed.
    Window shown = window(40, 700, 160, 120, kBlue, "Prüfung – Fenster", "CorvaneProbe", false);
    Window unmapped = window(40, 850, 160, 120, kBlue, "gone", "Hidden", false);
    Window popup = window(240, 850, 160, 120, kBlue, "menu", "Popup");
    XUnmapWindow(x.get(), unmapped);
    XSync(x.get(), False);
    auto content = backend.shareableContent();
    ASSERT_TRUE(content.ok());
    const WindowInfo* info = content.value().findWindow(uint32_t(shown));
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->title + " | " + info->appName, "Prüfung – Fenster | CorvaneProbe");
    EXPECT_EQ(std::vector<int>({info->x, info->y, info->width, info->height}), std::vector<int>({40, 700, 160, 120}));
    EXPECT_EQ(content.value().findWindow(uint32_t(unmapped)), nullptr);
    EXPECT_EQ(content.value().findWindow(uint32_t(popup)), nullptr);

    // With a window manager's client list, that list rules, and hidden (minimised) clients drop out.
    Window minimised = window(240, 700, 160, 120, kGreen, "mini", "Minimised", false);
    Atom hidden = XInternAtom(x.get(), "_NET_WM_STATE_HIDDEN", False);
    XChangeProperty(x.get(), minimised, XInternAtom(x.get(), "_NET_WM_STATE", False), XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&hidden), 1);
    Window clients[] = {minimised, shown};
    XChangeProperty(x.get(), x.root(), XInternAtom(x.get(), "_NET_CLIENT_LIST", False), XA_WINDOW, 32,
                    PropModeReplace, reinterpret_cast<unsigned char*>(clients), 2);
    XSync(x.get(), False);
    auto managed = backend.shareableContent();
    ASSERT_TRUE(managed.ok());
    ASSERT_EQ(managed.value().windows.size(), 1u);
    EXPECT_EQ(managed.value().windows[0].id, uint32_t(shown));
}

TEST_F(X11CaptureTest, MainDisplayIsListedFirstAndCapturedAtFullSizeWithTheCursorOnlyWhenAsked) {
    EXPECT_TRUE(backend.isAvailable());
    EXPECT_FALSE(X11ScreenCaptureBackend(":4711").isAvailable());
    auto content = backend.shareableContent();
    ASSERT_TRUE(content.ok());
    const auto& displays = content.value().displays;
    ASSERT_FALSE(displays.empty());
    EXPECT_EQ(std::count_if(displays.begin(), displays.end(), [](auto& d) { return d.isMain; }), 1);
    EXPECT_EQ(content.value().mainDisplayId(), displays[0].id);
    const DisplayInfo display = displays[0];
    EXPECT_EQ(std::pair(display.width, display.height), std::pair(DisplayWidth(x.get(), 0), DisplayHeight(x.get(), 0)));
    window(120, 400, 200, 150, kRed);
    XWarpPointer(x.get(), None, x.root(), 0, 0, 0, 0, 1000, 900);
    XSync(x.get(), False);
    for (const bool cursor : {false, true}) {
        auto [stream, frames] = open(display.id, 0, 1280, 720, cursor);  // the encoder scales
        ASSERT_TRUE(stream.ok()) << stream.error().message;
        auto frame = frames->nextFrame(2);
        ASSERT_TRUE(frame);
        stream.value()->stop();
        EXPECT_EQ(std::pair(frame->width, frame->height), std::pair(display.width, display.height));
        EXPECT_FALSE(frame->content);  // only window capture reports a content size
        // On the monotonic clock: the wall clock would be off by decades.
        EXPECT_LT(std::abs((captureClockNow() - frame->pts).seconds()), 10.0);
        for (auto [px, py, red] : {std::tuple{121, 401, true}, {319, 549, true}, {119, 399, false}, {321, 551, false}})
            EXPECT_EQ(frame->rgbAt(px, py) == kRed, red) << px << "," << py;
        int marked = 0;
        for (int py = 880; py < 930; ++py)
            for (int px = 980; px < 1030; ++px) marked += frame->rgbAt(px, py) != 0;  // the root is black
        EXPECT_EQ(marked > 10, cursor) << marked << " pixels around the pointer";
    }
}

TEST_F(X11CaptureTest, CoveredWindowKeepsItsContentAndFollowsItsSize) {
    Window target = window(600, 400, 320, 240, kGreen, "target", "Target");
    window(700, 450, 150, 100, kBlue);  // on top of part of the target
    auto [stream, frames] = open(0, uint32_t(target), 320, 240);
    ASSERT_TRUE(stream.ok()) << stream.error().message;
    auto frame = frames->nextFrame(3);
    ASSERT_TRUE(frame && frame->content);
    EXPECT_EQ(std::vector<int>({frame->width, frame->height, int(frame->content->width), int(frame->content->height)}),
              std::vector<int>({320, 240, 320, 240}));
    EXPECT_FALSE(frame->content->scale);
    EXPECT_EQ(frame->rgbAt(5, 5), kGreen);
    EXPECT_EQ(frame->rgbAt(150, 100), kGreen);  // under the blue window

    // Content size follows the window at once; the frame keeps the opened size at most.
    XResizeWindow(x.get(), target, 200, 100);
    XSync(x.get(), False);
    frame = frames->nextFrame(3);
    ASSERT_TRUE(frame);
    EXPECT_EQ(std::vector<int>({frame->width, frame->height, int(frame->content->width), int(frame->content->height)}),
              std::vector<int>({200, 100, 200, 100}));
    EXPECT_FALSE(frames->waitForStop(0ms));
    stream.value()->stop();
}

TEST_F(X11CaptureTest, WindowStreamReportsWhyItEndedButNotADeliberateStop) {
    struct Case { std::function<void(Window)> end; std::optional<std::string> report; };
    const Case cases[] = {
        {[&](Window w) {
             XDestroyWindow(x.get(), w);
             forget(w);
         }, "The captured window was closed"},
        {[&](Window w) { XUnmapWindow(x.get(), w); }, "The captured window is no longer on screen"},
        {nullptr, std::nullopt},  // stopped first, then destroyed
    };
    for (const Case& c : cases) {
        Window target = window(100, 100, 200, 200, kBlue);
        auto [stream, frames] = open(0, uint32_t(target), 200, 200);
        ASSERT_TRUE(stream.ok());
        ASSERT_TRUE(frames->nextFrame());
        if (!c.end) stream.value()->stop();
        (c.end ? c.end : cases[0].end)(target);
        XSync(x.get(), False);
        EXPECT_EQ(frames->waitForStop(c.report ? 3000ms : 300ms), c.report);
        stream.value()->stop();
    }
    auto missing = open(0, 0x7ffffff, 200, 200).first;  // no such window
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().domain, "X11");
}

// An X server of the test's own, which it reshapes and then ends. A switch to the current mode is
// no change; a real one reaches the display watcher once (the server sends several events for it)
// and ends a display stream that can no longer read its area. The server's end stops the next
// stream with the reason, and opening again fails at once instead of hanging.
TEST_F(X11CaptureTest, PrivateServerModeSwitchAndLossStopTheStreamWithAReason) {
    EXPECT_FALSE(RandrDisplayWatcher().start([] {}, ":4711")) << "no display, no watcher";
    testing::PrivateXServer server;
    ASSERT_FALSE(server.name().empty()) << "no free display number for a private X server";
    X11ScreenCaptureBackend privateScreen(server.name());
    const auto openWhole = [&](int w, int h) {
        auto content = privateScreen.shareableContent();
        EXPECT_TRUE(content.ok());
        return open(content.ok() ? content.value().displays.at(0).id : 0, 0, w, h, false, &privateScreen);
    };
    const auto xrandr = [&](const std::string& args) {
        return std::system(("DISPLAY=" + server.name() + " xrandr " + args).c_str());
    };
    RandrDisplayWatcher watcher;
    int changes = 0;
    ASSERT_TRUE(watcher.start([&] { ++changes; }, server.name().c_str()));
    auto [stream, frames] = openWhole(640, 480);
    ASSERT_TRUE(stream.ok());
    ASSERT_TRUE(frames->nextFrame());
    ASSERT_EQ(xrandr("--newmode 320x240_t 6.00 320 336 368 416 240 243 247 250"), 0);
    ASSERT_EQ(xrandr("--addmode screen 320x240_t"), 0);
    std::vector<int> reported;
    for (const std::string mode : {"640x480", "320x240_t"}) {
        const int before = changes;
        ASSERT_EQ(xrandr("--output screen --mode " + mode), 0);
        testing::waitUntil([&] { return changes > before; }, 1000);
        test::serveEvents(300);
        reported.push_back(changes - before);
    }
    EXPECT_EQ(reported, (std::vector<int>{0, 1}));
    auto reason = frames->waitForStop();
    ASSERT_TRUE(reason);
    EXPECT_NE(reason->find("Cannot read the display area"), std::string::npos) << *reason;
    stream.value()->stop();

    auto [again, later] = openWhole(320, 240);
    ASSERT_TRUE(again.ok());
    ASSERT_TRUE(later->nextFrame());
    watcher.stop();  // before the server goes: Xlib ends the process on a lost connection
    server.kill();
    EXPECT_EQ(later->waitForStop(), "Lost the connection to the X server");
    again.value()->stop();
    auto reopened = open(0, 0, 320, 240, false, &privateScreen).first;
    ASSERT_FALSE(reopened.ok());
    EXPECT_EQ(reopened.error().message, "Cannot open the X display");
    queue.waitIdle();  // before the private back end goes
}

// While the encoder keeps up, the frame given back last does all the work. One written only while
// it was behind gives its memory back once idle, and the X server still fills it afterwards.
TEST_F(X11CaptureTest, AFrameLeftIdleGivesItsMemoryBackAndStillTakesImages) {
    window(0, 0, 64, 64, kRed);
    XSync(x.get(), False);
    x11::Connection conn;
    ASSERT_TRUE(conn.ok());
    auto pool = std::make_shared<FramePool>();
    for (int i = 0; i < 2; ++i) {
        auto frame = makeShmFrame(conn, 64 * 64 * 4);
        ASSERT_TRUE(frame);
        pool->add(std::move(frame));
    }
    const uint8_t* spare = nullptr;
    {
        auto first = pool->acquire(), second = pool->acquire();  // the encoder fell behind
        ASSERT_TRUE(first && second);
        EXPECT_FALSE(pool->acquire());
        std::memset(first->pixels, 0xAB, first->size);
        std::memset(second->pixels, 0xAB, second->size);
        spare = second->pixels;  // given back before `first`, so handed out after it
    }
    for (uint64_t i = 1; i <= FramePool::kIdleHandouts; ++i) {
        auto frame = pool->acquire();
        ASSERT_TRUE(frame);
        ASSERT_NE(frame->pixels, spare);
        if (i + 1 == FramePool::kIdleHandouts) {
            EXPECT_EQ(spare[0], 0xAB) << "still in use one hand-out before";
        }
    }
    EXPECT_EQ(spare[0], 0);
    EXPECT_EQ(spare[64 * 64 * 4 - 1], 0);

    auto first = pool->acquire(), second = pool->acquire();
    ASSERT_EQ(second->pixels, spare);
    x11::Reply<xcb_shm_get_image_reply_t> image(xcb_shm_get_image_reply(
        conn.get(), xcb_shm_get_image(conn.get(), conn.root(), 0, 0, 64, 64, ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP, second->segment, 0),
        nullptr));
    ASSERT_TRUE(image);
    uint32_t pixel = 0;
    std::memcpy(&pixel, second->pixels + (32 * 64 + 32) * 4, 4);
    EXPECT_EQ(pixel & 0xffffff, kRed);
}

}  // namespace
}  // namespace corvane
