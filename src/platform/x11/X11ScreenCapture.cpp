#include "platform/x11/X11ScreenCapture.h"

#include <xcb/composite.h>
#include <xcb/shm.h>
#include <xcb/xfixes.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "core/capture/CaptureClock.h"
#include "core/capture/FrameGrid.h"
#include "platform/x11/ShmFramePool.h"
#include "platform/x11/X11Content.h"
#include "platform/x11/Xcb.h"

namespace corvane {
namespace {

using x11::Connection;
using x11::Error;
using x11::Reply;

constexpr const char* kConnectionLost = "Lost the connection to the X server";
constexpr const char* kWindowClosed = "The captured window was closed";
constexpr const char* kWindowHidden = "The captured window is no longer on screen";

CaptureError x11Error(int32_t code, std::string message) {
    return CaptureError{"X11", code, std::move(message)};
}

// Shared by the stream handle, its grab thread and the frames queued on the video queue.
struct StreamState {
    VideoStreamCallbacks callbacks;
    Executor* videoQueue = nullptr;
    std::mutex mutex;
    std::condition_variable wake;
    bool stopped = false;  // guarded by mutex; also read without it by queued frames (atomic below)
    std::atomic<bool> stoppedFlag{false};
};

struct Rect {
    int32_t x = 0, y = 0, width = 0, height = 0;
};

Rect intersect(Rect a, Rect b) {
    int32_t x0 = std::max(a.x, b.x), y0 = std::max(a.y, b.y);
    int32_t x1 = std::min(a.x + a.width, b.x + b.width);
    int32_t y1 = std::min(a.y + a.height, b.y + b.height);
    if (x1 <= x0 || y1 <= y0) return {};
    return {x0, y0, x1 - x0, y1 - y0};
}

// Blends the XFixes cursor image (premultiplied ARGB) onto a BGRX frame whose top-left corner is
// at `origin` in root coordinates.
void drawCursor(const xcb_xfixes_get_cursor_image_reply_t* cursor, uint8_t* pixels,
                int32_t strideBytes, int32_t width, int32_t height, int32_t originX,
                int32_t originY) {
    const uint32_t* image = xcb_xfixes_get_cursor_image_cursor_image(cursor);
    int32_t left = cursor->x - cursor->xhot - originX;
    int32_t top = cursor->y - cursor->yhot - originY;
    for (int32_t cy = 0; cy < cursor->height; ++cy) {
        int32_t y = top + cy;
        if (y < 0 || y >= height) continue;
        uint8_t* row = pixels + size_t(y) * size_t(strideBytes);
        for (int32_t cx = 0; cx < cursor->width; ++cx) {
            int32_t x = left + cx;
            if (x < 0 || x >= width) continue;
            uint32_t argb = image[cy * cursor->width + cx];
            uint32_t alpha = argb >> 24;
            if (alpha == 0) continue;
            uint8_t* p = row + size_t(x) * 4;
            for (int c = 0; c < 3; ++c) {
                uint32_t src = (argb >> (8 * c)) & 0xff;
                p[c] = uint8_t(std::min<uint32_t>(255, src + p[c] * (255 - alpha) / 255));
            }
        }
    }
}

// Reports the stream's end once, unless it was stopped on purpose. The callback runs after the
// lock is released: what it does (a post to the capture's lane) never waits on the stream.
void reportStop(StreamState& state, const std::string& text) {
    {
        std::lock_guard lock(state.mutex);
        if (state.stopped) return;
        state.stopped = true;
        state.stoppedFlag = true;
    }
    // The callbacks never change after the stream opened, and stop() joins this thread before it
    // returns, so the call cannot outlive the stream's owner.
    if (state.callbacks.onStopped) state.callbacks.onStopped(text);
}

// The cursor image asked for at the start of a frame. Its reply is always collected, whichever
// way the frame ends, so XCB never keeps an unread reply.
class CursorRequest {
public:
    CursorRequest(xcb_connection_t* c, bool wanted) : c_(c), wanted_(wanted) {
        if (wanted_) cookie_ = xcb_xfixes_get_cursor_image(c_);
    }
    ~CursorRequest() { take(); }
    CursorRequest(const CursorRequest&) = delete;
    CursorRequest& operator=(const CursorRequest&) = delete;

    // The reply (null when not wanted, failed, or already taken).
    Reply<xcb_xfixes_get_cursor_image_reply_t> take() {
        if (!wanted_) return nullptr;
        wanted_ = false;
        return Reply<xcb_xfixes_get_cursor_image_reply_t>(
            xcb_xfixes_get_cursor_image_reply(c_, cookie_, nullptr));
    }

private:
    xcb_connection_t* c_;
    bool wanted_;
    xcb_xfixes_get_cursor_image_cookie_t cookie_{};
};

// Where one frame is read from: a drawable, the area in its coordinates, and where that area sits
// on the root window (to place the cursor).
struct GrabSource {
    xcb_drawable_t drawable = XCB_NONE;
    Rect area;
    Rect originOnRoot;
    std::optional<WindowContent> content;  // window capture only
};

// How one step of the loop went: go on (a frame was delivered or skipped) or end the stream.
struct StepResult {
    std::optional<std::string> endReason;
    static StepResult next() { return {}; }
    static StepResult end(std::string reason) { return {std::move(reason)}; }
};

// The grab thread's loop: paced on the monotonic clock, one frame per interval, each read into a
// free shared-memory frame, the cursor drawn in, then posted to the video queue. Grab thread only.
class GrabLoop {
public:
    GrabLoop(Connection& conn, std::shared_ptr<StreamState> state, FramePool& pool,
             const VideoStreamConfig& config, Rect displayArea, bool composite, int32_t poolWidth,
             int32_t poolHeight)
        : conn_(conn),
          c_(conn.get()),
          state_(std::move(state)),
          pool_(pool),
          config_(config),
          displayArea_(displayArea),
          composite_(composite),
          poolWidth_(poolWidth),
          poolHeight_(poolHeight),
          interval_(std::chrono::nanoseconds(1'000'000'000LL / std::max(1, config.fps))),
          deadline_(std::chrono::steady_clock::now()),
          grid_(config.fps) {}

    ~GrabLoop() {
        if (pixmap_ != XCB_NONE && !xcb_connection_has_error(c_)) {
            xcb_free_pixmap(c_, pixmap_);
            xcb_flush(c_);
        }
    }

    void run() {
        for (;;) {
            const std::optional<SteadyTime> due = waitUntilDue();
            if (!due) return;  // stopped on purpose
            if (StepResult step = grabFrame(*due); step.endReason) {
                reportStop(*state_, *step.endReason);
                return;
            }
        }
    }

private:
    bool windowCapture() const { return config_.windowId != 0; }

    // The time of the next frame, or nullopt once the stream is stopped.
    std::optional<SteadyTime> waitUntilDue() {
        {
            std::unique_lock lock(state_->mutex);
            state_->wake.wait_until(lock, deadline_, [&] { return state_->stopped; });
            if (state_->stopped) return std::nullopt;
        }
        const SteadyTime now = std::chrono::steady_clock::now();
        // Fell behind: skip the missed ticks, don't burst, and stay in phase with the frame grid.
        do deadline_ += interval_;
        while (deadline_ <= now);
        return now;
    }

    StepResult grabFrame(SteadyTime now) {
        if (xcb_connection_has_error(c_)) return StepResult::end(kConnectionLost);
        std::shared_ptr<ShmFrame> frame = pool_.acquire();
        if (!frame) return StepResult::next();  // the encoder is behind; drop this frame
        // Stamped on the rate's grid, not with the wake-up time: regular intervals in the file.
        const std::optional<MediaTime> pts = grid_.place(captureClockTime(now));
        if (!pts) return StepResult::next();  // a second frame for one slot
        CursorRequest cursor(c_, config_.showsCursor);

        GrabSource source;
        if (windowCapture()) {
            std::optional<GrabSource> window;
            if (StepResult located = locateWindow(window); located.endReason) return located;
            if (!window) return StepResult::next();  // entirely off-screen for now
            source = *window;
        } else {
            source.drawable = conn_.root();
            source.area = {displayArea_.x, displayArea_.y, std::min(displayArea_.width, poolWidth_),
                           std::min(displayArea_.height, poolHeight_)};
            source.originOnRoot = source.area;
        }

        bool read = false;
        if (StepResult step = readImage(*frame, source, read); step.endReason || !read) return step;
        const int32_t stride = source.area.width * 4;
        if (Reply<xcb_xfixes_get_cursor_image_reply_t> image = cursor.take()) {
            drawCursor(image.get(), frame->pixels, stride, source.area.width, source.area.height,
                       source.originOnRoot.x, source.originOnRoot.y);
        }
        deliver(std::move(frame), source, stride, *pts);
        return StepResult::next();
    }

    // Window capture: where the window is now. Leaves `source` empty when nothing of it can be
    // read this time (off-screen without Composite).
    StepResult locateWindow(std::optional<GrabSource>& source) {
        const xcb_window_t window = config_.windowId;
        auto geoCookie = xcb_get_geometry(c_, window);
        auto posCookie = xcb_translate_coordinates(c_, window, conn_.root(), 0, 0);
        auto attrCookie = xcb_get_window_attributes(c_, window);
        Reply<xcb_get_geometry_reply_t> geo(xcb_get_geometry_reply(c_, geoCookie, nullptr));
        Reply<xcb_translate_coordinates_reply_t> pos(
            xcb_translate_coordinates_reply(c_, posCookie, nullptr));
        Reply<xcb_get_window_attributes_reply_t> attrs(
            xcb_get_window_attributes_reply(c_, attrCookie, nullptr));
        if (!geo || !pos || !attrs) {
            return StepResult::end(xcb_connection_has_error(c_) ? kConnectionLost : kWindowClosed);
        }
        if (attrs->map_state != XCB_MAP_STATE_VIEWABLE) return StepResult::end(kWindowHidden);

        GrabSource found;
        found.content = WindowContent{double(geo->width), double(geo->height), std::nullopt};
        const Rect onRoot{pos->dst_x, pos->dst_y, geo->width, geo->height};
        if (composite_) {
            nameWindowPixmap(geo->width, geo->height);
            found.drawable = pixmap_;
            found.area = {geo->border_width, geo->border_width, std::min<int32_t>(geo->width, poolWidth_),
                          std::min<int32_t>(geo->height, poolHeight_)};
            found.originOnRoot = {onRoot.x, onRoot.y, found.area.width, found.area.height};
        } else {
            // Without Composite only what is on the screen can be read.
            Rect visible = intersect(onRoot, {0, 0, conn_.screen()->width_in_pixels,
                                              conn_.screen()->height_in_pixels});
            visible.width = std::min(visible.width, poolWidth_);
            visible.height = std::min(visible.height, poolHeight_);
            if (visible.width <= 0 || visible.height <= 0) return StepResult::next();
            found.drawable = window;
            found.area = {visible.x - onRoot.x, visible.y - onRoot.y, visible.width, visible.height};
            found.originOnRoot = visible;
        }
        source = found;
        return StepResult::next();
    }

    // The window's off-screen image, named again whenever its size changed.
    void nameWindowPixmap(int32_t width, int32_t height) {
        if (pixmap_ != XCB_NONE && pixmapWidth_ == width && pixmapHeight_ == height) return;
        if (pixmap_ != XCB_NONE) xcb_free_pixmap(c_, pixmap_);
        pixmap_ = xcb_generate_id(c_);
        xcb_composite_name_window_pixmap(c_, config_.windowId, pixmap_);
        pixmapWidth_ = width;
        pixmapHeight_ = height;
    }

    // Reads the source's area into the frame; `read` says whether it did. A resize racing the grab
    // skips the frame; anything else that fails ends the stream with the reason.
    StepResult readImage(ShmFrame& frame, const GrabSource& source, bool& read) {
        auto cookie = xcb_shm_get_image(c_, source.drawable, int16_t(source.area.x),
                                        int16_t(source.area.y), uint16_t(source.area.width),
                                        uint16_t(source.area.height), ~0u,
                                        XCB_IMAGE_FORMAT_Z_PIXMAP, frame.segment, 0);
        xcb_generic_error_t* rawError = nullptr;
        Reply<xcb_shm_get_image_reply_t> image(xcb_shm_get_image_reply(c_, cookie, &rawError));
        Error error(rawError);
        read = image != nullptr;
        if (read) return StepResult::next();
        if (xcb_connection_has_error(c_)) return StepResult::end(kConnectionLost);
        if (!windowCapture()) {
            return StepResult::end("Cannot read the display area (the screen layout changed?): " +
                                   x11::describeError(error.get()));
        }
        std::string gone = windowGoneReason();
        if (!gone.empty()) return StepResult::end(std::move(gone));
        if (composite_) {
            // A resize between the geometry query and the grab: name a fresh pixmap next time.
            xcb_free_pixmap(c_, pixmap_);
            pixmap_ = XCB_NONE;
            return StepResult::next();
        }
        return StepResult::end("Cannot read the captured window: " + x11::describeError(error.get()));
    }

    // Why the captured window can no longer be read, or empty when it still can.
    std::string windowGoneReason() {
        if (xcb_connection_has_error(c_)) return kConnectionLost;
        Reply<xcb_get_window_attributes_reply_t> attrs(xcb_get_window_attributes_reply(
            c_, xcb_get_window_attributes(c_, config_.windowId), nullptr));
        if (!attrs) return kWindowClosed;
        if (attrs->map_state != XCB_MAP_STATE_VIEWABLE) return kWindowHidden;
        return {};
    }

    // Posts the frame to the video queue, unless the stream has been stopped meanwhile. The lock
    // makes the check and the post one step against stop(), which must not return while a post of
    // this stream may still follow.
    void deliver(std::shared_ptr<ShmFrame> frame, const GrabSource& source, int32_t stride,
                 MediaTime pts) {
        const int32_t width = source.area.width, height = source.area.height;
        const MediaTime duration(interval_.count() / 1000, kCaptureClockTimescale);
        std::lock_guard lock(state_->mutex);
        if (state_->stopped) return;
        state_->videoQueue->post([state = state_, frame = std::move(frame), stride, width, height,
                                  pts, duration, content = source.content] {
            if (state->stoppedFlag.load()) return;
            RawVideoFrame raw;
            raw.pixels = frame->pixels;
            raw.strideBytes = stride;
            raw.width = width;
            raw.height = height;
            raw.format = RawPixelFormat::BGR0;
            raw.pts = pts;
            raw.duration = duration;
            if (state->callbacks.onFrame) state->callbacks.onFrame(raw, content);
        });
    }

    Connection& conn_;
    xcb_connection_t* c_;
    std::shared_ptr<StreamState> state_;
    FramePool& pool_;
    const VideoStreamConfig config_;
    const Rect displayArea_;
    const bool composite_;
    const int32_t poolWidth_;
    const int32_t poolHeight_;
    const std::chrono::nanoseconds interval_;
    SteadyTime deadline_;
    FrameGrid grid_;
    xcb_pixmap_t pixmap_ = XCB_NONE;  // window capture with Composite
    int32_t pixmapWidth_ = 0;
    int32_t pixmapHeight_ = 0;
};

class X11VideoStream final : public CaptureStream {
public:
    X11VideoStream(std::shared_ptr<Connection> conn, std::shared_ptr<StreamState> state,
                   std::shared_ptr<FramePool> pool, VideoStreamConfig config, Rect displayArea,
                   bool useComposite, int32_t poolWidth, int32_t poolHeight)
        : conn_(std::move(conn)),
          state_(std::move(state)),
          pool_(std::move(pool)),
          config_(config),
          displayArea_(displayArea),
          useComposite_(useComposite),
          poolWidth_(poolWidth),
          poolHeight_(poolHeight) {}

    ~X11VideoStream() override { stop(); }

    void begin() {
        std::promise<void> finished;
        finished_ = finished.get_future();
        // The thread keeps what it uses alive by itself, so a hung server can at worst leave it
        // behind detached, never dangling.
        thread_ = std::thread([conn = conn_, state = state_, pool = pool_, config = config_,
                               area = displayArea_, composite = useComposite_, pw = poolWidth_,
                               ph = poolHeight_, finished = std::move(finished)]() mutable {
            GrabLoop(*conn, state, *pool, config, area, composite, pw, ph).run();
            finished.set_value();
        });
    }

    void stop() override {
        {
            std::lock_guard lock(state_->mutex);
            if (state_->stopped) {
                if (!thread_.joinable()) return;
            }
            state_->stopped = true;
            state_->stoppedFlag = true;
        }
        state_->wake.notify_all();
        if (!thread_.joinable()) return;
        // A grab blocked on an unresponsive server is woken by shutting the socket down.
        if (finished_.wait_for(std::chrono::milliseconds(500)) != std::future_status::ready) {
            conn_->shutdownSocket();
            if (finished_.wait_for(std::chrono::milliseconds(500)) != std::future_status::ready) {
                thread_.detach();
                return;
            }
        }
        thread_.join();
    }

private:
    std::shared_ptr<Connection> conn_;
    std::shared_ptr<StreamState> state_;
    std::shared_ptr<FramePool> pool_;
    VideoStreamConfig config_;
    Rect displayArea_;
    bool useComposite_;
    int32_t poolWidth_;
    int32_t poolHeight_;
    std::thread thread_;
    std::future<void> finished_;
};

}  // namespace

X11ScreenCaptureBackend::X11ScreenCaptureBackend(std::string displayName)
    : displayName_(std::move(displayName)) {}

const char* X11ScreenCaptureBackend::displayNameOrNull() const {
    return displayName_.empty() ? nullptr : displayName_.c_str();
}

bool X11ScreenCaptureBackend::isAvailable() {
    Connection conn(displayNameOrNull());
    return conn.ok();
}

CaptureResult<ShareableContent> X11ScreenCaptureBackend::shareableContent() {
    Connection conn(displayNameOrNull());
    if (!conn.ok()) return x11Error(1, "Cannot open the X display");
    ShareableContent content;
    content.displays = x11::listDisplays(conn);
    content.windows = x11::listWindows(conn);
    return content;
}

CaptureResult<std::unique_ptr<CaptureStream>> X11ScreenCaptureBackend::openVideo(
    const VideoStreamConfig& config, Executor& videoQueue, VideoStreamCallbacks callbacks) {
    auto conn = std::make_shared<Connection>(displayNameOrNull());
    if (!conn->ok()) return x11Error(1, "Cannot open the X display");
    xcb_connection_t* c = conn->get();

    Reply<xcb_shm_query_version_reply_t> shm(
        xcb_shm_query_version_reply(c, xcb_shm_query_version(c), nullptr));
    if (!shm) return x11Error(2, "The X server does not offer shared-memory images (MIT-SHM)");
    if (config.showsCursor) {
        // XFixes answers cursor-image requests only after the version handshake.
        free(xcb_xfixes_query_version_reply(c, xcb_xfixes_query_version(c, 4, 0), nullptr));
    }

    Rect area;
    bool useComposite = false;
    int32_t depth = conn->screen()->root_depth;
    if (config.windowId != 0) {
        Reply<xcb_get_geometry_reply_t> geo(
            xcb_get_geometry_reply(c, xcb_get_geometry(c, config.windowId), nullptr));
        if (!geo) return x11Error(3, "Window " + std::to_string(config.windowId) + " does not exist");
        area = {0, 0, geo->width, geo->height};
        depth = geo->depth;
        Reply<xcb_composite_query_version_reply_t> composite(
            xcb_composite_query_version_reply(c, xcb_composite_query_version(c, 0, 2), nullptr));
        if (composite) {
            // Automatic redirection keeps the window on screen as before and gives it an
            // off-screen image; it ends with this connection.
            Error error(xcb_request_check(
                c, xcb_composite_redirect_window_checked(c, config.windowId,
                                                         XCB_COMPOSITE_REDIRECT_AUTOMATIC)));
            useComposite = !error;
        }
    } else {
        std::vector<DisplayInfo> displays = x11::listDisplays(*conn);
        auto it = std::find_if(displays.begin(), displays.end(),
                               [&](const DisplayInfo& d) { return d.id == config.displayId; });
        if (it == displays.end())
            return x11Error(4, "Display " + std::to_string(config.displayId) + " is not connected");
        area = {it->x, it->y, it->width, it->height};
    }
    if (conn->bitsPerPixel(uint8_t(depth)) != 32) {
        return x11Error(5, "Unsupported pixel depth " + std::to_string(depth));
    }

    auto pool = std::make_shared<FramePool>();
    size_t frameBytes = size_t(area.width) * size_t(area.height) * 4;
    for (int i = 0; i < std::max(1, config.queueDepth) + 1; ++i) {
        auto frame = makeShmFrame(*conn, frameBytes);
        if (!frame) return x11Error(6, "Cannot allocate shared memory for captured frames");
        pool->add(std::move(frame));
    }

    auto state = std::make_shared<StreamState>();
    state->callbacks = std::move(callbacks);
    state->videoQueue = &videoQueue;
    auto stream = std::make_unique<X11VideoStream>(conn, state, pool, config, area, useComposite,
                                                   area.width, area.height);
    stream->begin();
    return std::unique_ptr<CaptureStream>(std::move(stream));
}

}  // namespace corvane
