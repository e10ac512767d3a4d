#pragma once

#include <string>

#include "core/capture/CaptureBackend.h"

namespace corvane {

// Screen and window capture on an X server.
//
// Display capture grabs the output's native area (its origin on the root window) through MIT-SHM
// into a small pool of shared-memory frames; the encoder scales it to the capture size in its one
// conversion pass. Window capture grabs one top-level window by id: from its Composite pixmap
// where the server offers Composite (content kept when covered or partly off-screen), else the
// visible part of the window. The cursor is drawn into the frame. Frames go to the video queue
// with no copy of the image; when the queue holds `queueDepth` frames, new ones are dropped.
//
// Each stream has its own X connection and grab thread, paced on the monotonic clock. A stream
// stops itself and reports why when the connection is lost, the window is closed or unmapped, or
// the grab area no longer fits (display shrunk). Thread-safe; one instance serves the process.
class X11ScreenCaptureBackend final : public ScreenCaptureBackend {
public:
    // Empty: $DISPLAY.
    explicit X11ScreenCaptureBackend(std::string displayName = {});

    bool isAvailable() override;
    std::string unavailableReason() override { return "cannot open the X display"; }
    void requestAccess() override {}  // X11 has nothing to ask
    CaptureResult<ShareableContent> shareableContent() override;
    CaptureResult<std::unique_ptr<CaptureStream>> openVideo(const VideoStreamConfig& config,
                                                            Executor& videoQueue,
                                                            VideoStreamCallbacks callbacks) override;

private:
    const char* displayNameOrNull() const;

    std::string displayName_;
};

}  // namespace corvane
