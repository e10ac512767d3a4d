#include "platform/x11/X11ScreenCapture.h"

#include <sys/ipc.h>
#include <sys/shm.h>
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

// One frame's worth of shared memory, attached by the X server, which writes the image into it.
struct ShmFrame {
    int shmid = -1;
    uint8_t* pixels = nullptr;
    size_t size = 0;
    xcb_shm_seg_t segment = 0;
    ~ShmFrame() {
        if (pixels) shmdt(pixels);
    }
};

// A fixed set of frames: the grab thread takes a free one, the video queue gives it back when the
// encoder is done with it. An empty pool means the encoder is `queueDepth` frames behind.
class FramePool : public std::enable_shared_from_this<FramePool> {
public:
    std::shared_ptr<ShmFrame> acquire() {
        std::lock_guard lock(mutex_);
        if (free_.empty()) return nullptr;
        ShmFrame* frame = free_.back().release();
        free_.pop_back();
        std::weak_ptr<FramePool> pool = weak_from_this();
        return std::shared_ptr<ShmFrame>(frame, [pool](ShmFrame* f) {
            if (auto p = pool.lock()) {
                std::lock_guard lock(p->mutex_);
                p->free_.emplace_back(f);
            } else {
                delete f;
            }
        });
    }
    void add(std::unique_ptr<ShmFrame> frame) {
        std::lock_guard lock(mutex_);
        free_.push_back(std::move(frame));
    }

private:
    std::mutex mutex_;
    std::vector<std::unique_ptr<ShmFrame>> free_;  // guarded by mutex_
};

std::unique_ptr<ShmFrame> makeShmFrame(Connection& conn, size_t size) {
    auto frame = std::make_unique<ShmFrame>();
    frame->shmid = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
    if (frame->shmid < 0) return nullptr;
    void* addr = shmat(frame->shmid, nullptr, 0);
    if (addr == reinterpret_cast<void*>(-1)) {
        shmctl(frame->shmid, IPC_RMID, nullptr);
        return nullptr;
    }
    frame->pixels = static_cast<uint8_t*>(addr);
    frame->size = size;
    frame->segment = xcb_generate_id(conn.get());
    Error error(xcb_request_check(
        conn.get(), xcb_shm_attach_checked(conn.get(), frame->segment, uint32_t(frame->shmid), 0)));
    // Marked for removal now: the memory goes away once both sides have detached.
    shmctl(frame->shmid, IPC_RMID, nullptr);
    if (error) return nullptr;
    return frame;
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
            run(*conn, state, *pool, config, area, composite, pw, ph);
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
    static void run(Connection& conn, const std::shared_ptr<StreamState>& state, FramePool& pool,
                    const VideoStreamConfig& config, Rect area, bool composite, int32_t poolWidth,
                    int32_t poolHeight);

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

// Reports the stream's end once, unless it was stopped on purpose.
void reportStop(StreamState& state, const std::string& text) {
    std::lock_guard lock(state.mutex);
    if (state.stopped) return;
    state.stopped = true;
    state.stoppedFlag = true;
    if (state.callbacks.onStopped) state.callbacks.onStopped(text);
}

void X11VideoStream::run(Connection& conn, const std::shared_ptr<StreamState>& state,
                         FramePool& pool, const VideoStreamConfig& config, Rect area,
                         bool composite, int32_t poolWidth, int32_t poolHeight) {
    xcb_connection_t* c = conn.get();
    const xcb_window_t window = config.windowId;
    const bool windowCapture = window != 0;
    xcb_pixmap_t pixmap = XCB_NONE;
    int32_t pixmapWidth = 0, pixmapHeight = 0;
    const auto interval = std::chrono::nanoseconds(1'000'000'000LL / std::max(1, config.fps));
    auto deadline = std::chrono::steady_clock::now();

    auto windowGoneReason = [&]() -> std::string {
        if (xcb_connection_has_error(c)) return kConnectionLost;
        Reply<xcb_get_window_attributes_reply_t> attrs(
            xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr));
        if (!attrs) return kWindowClosed;
        if (attrs->map_state != XCB_MAP_STATE_VIEWABLE) return kWindowHidden;
        return {};
    };

    for (;;) {
        {
            std::unique_lock lock(state->mutex);
            state->wake.wait_until(lock, deadline, [&] { return state->stopped; });
            if (state->stopped) break;
        }
        auto now = std::chrono::steady_clock::now();
        deadline += interval;
        if (deadline < now) deadline = now + interval;  // fell behind: skip, don't burst

        if (xcb_connection_has_error(c)) {
            reportStop(*state, kConnectionLost);
            break;
        }
        std::shared_ptr<ShmFrame> frame = pool.acquire();
        if (!frame) continue;  // the encoder is behind; drop this frame
        MediaTime pts = captureClockTime(now);

        xcb_xfixes_get_cursor_image_cookie_t cursorCookie{};
        if (config.showsCursor) cursorCookie = xcb_xfixes_get_cursor_image(c);

        Rect grab;            // in the drawable's coordinates
        Rect originOnRoot;    // where the grabbed area sits on the root (cursor placement)
        xcb_drawable_t drawable = conn.root();
        std::optional<WindowContent> content;

        if (windowCapture) {
            auto geoCookie = xcb_get_geometry(c, window);
            auto posCookie = xcb_translate_coordinates(c, window, conn.root(), 0, 0);
            auto attrCookie = xcb_get_window_attributes(c, window);
            Reply<xcb_get_geometry_reply_t> geo(xcb_get_geometry_reply(c, geoCookie, nullptr));
            Reply<xcb_translate_coordinates_reply_t> pos(
                xcb_translate_coordinates_reply(c, posCookie, nullptr));
            Reply<xcb_get_window_attributes_reply_t> attrs(
                xcb_get_window_attributes_reply(c, attrCookie, nullptr));
            if (!geo || !pos || !attrs) {
                if (config.showsCursor) free(xcb_xfixes_get_cursor_image_reply(c, cursorCookie, nullptr));
                reportStop(*state, xcb_connection_has_error(c) ? kConnectionLost : kWindowClosed);
                break;
            }
            if (attrs->map_state != XCB_MAP_STATE_VIEWABLE) {
                if (config.showsCursor) free(xcb_xfixes_get_cursor_image_reply(c, cursorCookie, nullptr));
                reportStop(*state, kWindowHidden);
                break;
            }
            content = WindowContent{double(geo->width), double(geo->height), std::nullopt};
            Rect onRoot{pos->dst_x, pos->dst_y, geo->width, geo->height};
            if (composite) {
                if (pixmap == XCB_NONE || pixmapWidth != geo->width || pixmapHeight != geo->height) {
                    if (pixmap != XCB_NONE) xcb_free_pixmap(c, pixmap);
                    pixmap = xcb_generate_id(c);
                    xcb_composite_name_window_pixmap(c, window, pixmap);
                    pixmapWidth = geo->width;
                    pixmapHeight = geo->height;
                }
                drawable = pixmap;
                grab = {geo->border_width, geo->border_width, std::min<int32_t>(geo->width, poolWidth),
                        std::min<int32_t>(geo->height, poolHeight)};
                originOnRoot = {onRoot.x, onRoot.y, grab.width, grab.height};
            } else {
                // Without Composite only what is on the screen can be read.
                Rect visible = intersect(onRoot, {0, 0, conn.screen()->width_in_pixels,
                                                  conn.screen()->height_in_pixels});
                visible.width = std::min(visible.width, poolWidth);
                visible.height = std::min(visible.height, poolHeight);
                if (visible.width <= 0 || visible.height <= 0) {
                    if (config.showsCursor) free(xcb_xfixes_get_cursor_image_reply(c, cursorCookie, nullptr));
                    continue;  // entirely off-screen for now: nothing to show
                }
                drawable = window;
                grab = {visible.x - onRoot.x, visible.y - onRoot.y, visible.width, visible.height};
                originOnRoot = visible;
            }
        } else {
            grab = {area.x, area.y, std::min(area.width, poolWidth), std::min(area.height, poolHeight)};
            originOnRoot = grab;
        }

        auto imageCookie = xcb_shm_get_image(c, drawable, int16_t(grab.x), int16_t(grab.y),
                                             uint16_t(grab.width), uint16_t(grab.height), ~0u,
                                             XCB_IMAGE_FORMAT_Z_PIXMAP, frame->segment, 0);
        xcb_generic_error_t* rawError = nullptr;
        Reply<xcb_shm_get_image_reply_t> image(xcb_shm_get_image_reply(c, imageCookie, &rawError));
        Error error(rawError);
        Reply<xcb_xfixes_get_cursor_image_reply_t> cursor;
        if (config.showsCursor) cursor.reset(xcb_xfixes_get_cursor_image_reply(c, cursorCookie, nullptr));
        if (!image) {
            std::string reason;
            if (xcb_connection_has_error(c)) {
                reason = kConnectionLost;
            } else if (windowCapture) {
                reason = windowGoneReason();
                if (reason.empty() && composite) {
                    // A resize between the geometry query and the grab: name a fresh pixmap.
                    xcb_free_pixmap(c, pixmap);
                    pixmap = XCB_NONE;
                    continue;
                }
            }
            if (reason.empty()) {
                reason = windowCapture ? "Cannot read the captured window: " + x11::describeError(error.get())
                                       : "Cannot read the display area (the screen layout changed?): " +
                                             x11::describeError(error.get());
            }
            reportStop(*state, reason);
            break;
        }

        int32_t stride = grab.width * 4;
        if (cursor) {
            drawCursor(cursor.get(), frame->pixels, stride, grab.width, grab.height,
                       originOnRoot.x, originOnRoot.y);
        }
        int32_t width = grab.width, height = grab.height;
        std::lock_guard lock(state->mutex);
        if (state->stopped) break;
        state->videoQueue->post([state, frame, stride, width, height, pts, content,
                                 interval] {
            if (state->stoppedFlag.load()) return;
            RawVideoFrame raw;
            raw.pixels = frame->pixels;
            raw.strideBytes = stride;
            raw.width = width;
            raw.height = height;
            raw.format = RawPixelFormat::BGR0;
            raw.pts = pts;
            raw.duration = MediaTime(interval.count() / 1000, kCaptureClockTimescale);
            if (state->callbacks.onFrame) state->callbacks.onFrame(raw, content);
        });
    }
    if (pixmap != XCB_NONE && !xcb_connection_has_error(c)) {
        xcb_free_pixmap(c, pixmap);
        xcb_flush(c);
    }
}

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
