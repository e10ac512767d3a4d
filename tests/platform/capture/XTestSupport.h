#pragma once

// Xlib helpers for capture tests: plain coloured windows on the session's X server, and a
// collector for what a capture stream delivers.

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/capture/CaptureBackend.h"

namespace corvane::testing {

class XSession {
public:
    explicit XSession(const char* name = nullptr) : dpy_(XOpenDisplay(name)) {}
    ~XSession() {
        if (dpy_) XCloseDisplay(dpy_);
    }
    Display* get() const { return dpy_; }
    Window root() const { return DefaultRootWindow(dpy_); }

    // A window filled with one colour (0xRRGGBB), mapped and synced. Override-redirect windows
    // keep their position exactly.
    Window makeWindow(int x, int y, int w, int h, unsigned long rgb, const std::string& title = {},
                      const std::string& instance = {}, const std::string& klass = {},
                      bool overrideRedirect = true) {
        XSetWindowAttributes attrs{};
        attrs.background_pixel = rgb;
        attrs.override_redirect = overrideRedirect;
        Window w2 = XCreateWindow(dpy_, root(), x, y, unsigned(w), unsigned(h), 0, CopyFromParent,
                                  InputOutput, CopyFromParent, CWBackPixel | CWOverrideRedirect,
                                  &attrs);
        if (!title.empty()) {
            XStoreName(dpy_, w2, "legacy title");
            Atom netName = XInternAtom(dpy_, "_NET_WM_NAME", False);
            Atom utf8 = XInternAtom(dpy_, "UTF8_STRING", False);
            XChangeProperty(dpy_, w2, netName, utf8, 8, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(title.data()), int(title.size()));
        }
        if (!klass.empty()) {
            XClassHint hint;
            hint.res_name = const_cast<char*>(instance.c_str());
            hint.res_class = const_cast<char*>(klass.c_str());
            XSetClassHint(dpy_, w2, &hint);
        }
        XMapRaised(dpy_, w2);
        XSync(dpy_, False);
        return w2;
    }

private:
    Display* dpy_;
};

// Copies of the frames a stream delivered (tests only; the product never copies).
class FrameCollector {
public:
    struct Frame {
        int32_t width = 0, height = 0, stride = 0;
        std::vector<uint8_t> pixels;
        std::optional<WindowContent> content;
        MediaTime pts;
        uint32_t rgbAt(int x, int y) const {
            const uint8_t* p = pixels.data() + size_t(y) * size_t(stride) + size_t(x) * 4;
            return (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
        }
    };

    // Off for rate measurements, where copying every frame would slow the consumer down.
    bool copyPixels = true;

    VideoStreamCallbacks callbacks() {
        VideoStreamCallbacks c;
        c.onFrame = [this](const RawVideoFrame& f, const std::optional<WindowContent>& content) {
            Frame copy;
            copy.width = f.width;
            copy.height = f.height;
            copy.stride = f.strideBytes;
            if (copyPixels)
                copy.pixels.assign(f.pixels, f.pixels + size_t(f.strideBytes) * size_t(f.height));
            copy.content = content;
            copy.pts = f.pts;
            std::lock_guard lock(mutex_);
            last_ = std::move(copy);
            ++count_;
            pts_.push_back(f.pts);
            changed_.notify_all();
        };
        c.onStopped = [this](const std::string& text) {
            std::lock_guard lock(mutex_);
            stopText_ = text;
            changed_.notify_all();
        };
        return c;
    }

    // Waits (bounded) until `count` frames have arrived after this call; the newest one.
    std::optional<Frame> nextFrame(int count = 1, std::chrono::milliseconds timeout = std::chrono::seconds(3)) {
        std::unique_lock lock(mutex_);
        int target = count_ + count;
        if (!changed_.wait_for(lock, timeout, [&] { return count_ >= target; })) return std::nullopt;
        return last_;
    }
    std::optional<std::string> waitForStop(std::chrono::milliseconds timeout = std::chrono::seconds(3)) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, timeout, [&] { return stopText_.has_value(); });
        return stopText_;
    }
    int count() {
        std::lock_guard lock(mutex_);
        return count_;
    }
    std::vector<MediaTime> stamps() {
        std::lock_guard lock(mutex_);
        return pts_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    Frame last_;                         // guarded by mutex_
    int count_ = 0;                      // guarded by mutex_
    std::vector<MediaTime> pts_;         // guarded by mutex_
    std::optional<std::string> stopText_;  // guarded by mutex_
};

}  // namespace corvane::testing
