#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/capture/RawVideoFrame.h"
#include "core/replay/Samples.h"
#include "core/sched/Scheduler.h"

namespace corvane {

// A failure reported by capture: a domain ("Corvane" for the capture's own errors, "X11",
// "PulseAudio" for the platform's), a code and a user-readable text.
struct CaptureError {
    std::string domain;
    int32_t code = 0;
    std::string message;
};

// A value or the error that prevented it. Plain value.
template <typename T>
class CaptureResult {
public:
    CaptureResult(T value) : value_(std::move(value)) {}  // NOLINT: implicit on purpose
    CaptureResult(CaptureError error) : error_(std::move(error)) {}  // NOLINT

    bool ok() const { return value_.has_value(); }
    explicit operator bool() const { return ok(); }
    T& value() { return *value_; }
    const T& value() const { return *value_; }
    T takeValue() { return std::move(*value_); }
    const CaptureError& error() const { return error_; }

private:
    std::optional<T> value_;
    CaptureError error_;
};

// One capturable display (on X11 an XRandR output with a mode). Sizes are pixels of the
// current mode; x/y its origin on the root window. Ids are stable for the session's life.
struct DisplayInfo {
    uint32_t id = 0;
    std::string name;  // output name ("HDMI-1", "screen"); may be empty
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
    bool isMain = false;
    bool operator==(const DisplayInfo&) const = default;
};

// One on-screen top-level window of another application. Geometry in pixels on the root window;
// X11 has no backing scale, so `scale` is 1.0 there.
struct WindowInfo {
    uint32_t id = 0;
    std::string title;    // empty when the window has none
    std::string appName;  // owning application (WM_CLASS class); empty when unknown
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
    double scale = 1.0;
    bool operator==(const WindowInfo&) const = default;
};

// What can be captured right now.
struct ShareableContent {
    std::vector<DisplayInfo> displays;  // the main display first
    std::vector<WindowInfo> windows;    // viewable and not hidden, in stacking order

    // The main display's id, or nullopt when there is no display.
    std::optional<uint32_t> mainDisplayId() const {
        for (const DisplayInfo& d : displays)
            if (d.isMain) return d.id;
        if (!displays.empty()) return displays.front().id;
        return std::nullopt;
    }
    const DisplayInfo* findDisplay(uint32_t id) const {
        for (const DisplayInfo& d : displays)
            if (d.id == id) return &d;
        return nullptr;
    }
    const WindowInfo* findWindow(uint32_t id) const {
        for (const WindowInfo& w : windows)
            if (w.id == id) return &w;
        return nullptr;
    }
};

// What a video stream captures and how. Frames arrive at `width` x `height` or at the source's
// own size (the encoder then scales them, once); at most one frame every 1/fps seconds.
struct VideoStreamConfig {
    uint32_t displayId = 0;  // used when windowId is 0
    uint32_t windowId = 0;   // 0: capture the display
    int32_t width = 0;
    int32_t height = 0;
    int32_t fps = 30;
    bool showsCursor = true;
    int32_t queueDepth = 5;  // frames waiting on the video queue before new ones are dropped
};

// The content rectangle of a captured window's frame, in the window's content units, and its
// scale when the platform knows one.
struct WindowContent {
    double width = 0;
    double height = 0;
    std::optional<double> scale;
};

// A running capture stream (video or audio). Owned by one caller, stopped from one thread.
class CaptureStream {
public:
    virtual ~CaptureStream() = default;
    // Stops delivering. Bounded: returns within about a second even when the source hangs.
    // After it returns no new callback of this stream is queued; callbacks already queued on the
    // delivery queue find the stream stopped and do nothing. Idempotent. Never reports a stop.
    virtual void stop() = 0;
};

struct VideoStreamCallbacks {
    // On the video queue, in order. `content` is set for window capture only. The frame's pixels
    // are borrowed for the duration of the call.
    std::function<void(const RawVideoFrame& frame, const std::optional<WindowContent>& content)>
        onFrame;
    // Any thread, at most once per stream, never after stop(): the stream ended by itself
    // (display gone, window closed or resized below the grab area, server connection lost).
    std::function<void(const std::string& errorText)> onStopped;
};

struct AudioStreamCallbacks {
    // On the audio queue, in order: 48 kHz interleaved stereo float, stamped on the capture clock.
    std::function<void(const AudioBlock& block)> onAudio;
    std::function<void(const std::string& errorText)> onStopped;
};

// Screen and window capture of one platform. All methods may block briefly (a round trip to the
// display server) and are called from the capture's control lane or, for listing, any thread;
// implementations are thread-safe.
class ScreenCaptureBackend {
public:
    virtual ~ScreenCaptureBackend() = default;
    // The platform's "permission": the display server can be reached.
    virtual bool isAvailable() = 0;
    // Why isAvailable() is false, lower case, for "Screen capture is not available (<reason>).".
    virtual std::string unavailableReason() = 0;
    // What the log calls its streams: "<label> stream started on display [1] (...)".
    virtual std::string streamLabel() const { return "X11 capture"; }
    // Asks the platform to grant access; a no-op where there is nothing to ask.
    virtual void requestAccess() = 0;
    // Displays and on-screen windows of other programs.
    virtual CaptureResult<ShareableContent> shareableContent() = 0;
    // Opens and starts a stream; frames are posted to `videoQueue`.
    virtual CaptureResult<std::unique_ptr<CaptureStream>> openVideo(const VideoStreamConfig& config,
                                                                    Executor& videoQueue,
                                                                    VideoStreamCallbacks callbacks) = 0;
};

// System audio (what the speakers play) of one platform. Thread-safe.
class SystemAudioBackend {
public:
    virtual ~SystemAudioBackend() = default;
    // Opens the default output's monitor at 48 kHz stereo float; blocks posted to `audioQueue`.
    // The first block may come up to about two seconds later.
    virtual CaptureResult<std::unique_ptr<CaptureStream>> openSystemAudio(
        Executor& audioQueue, AudioStreamCallbacks callbacks) = 0;
};

}  // namespace corvane
