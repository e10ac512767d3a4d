#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>

#include "core/capture/CaptureBackend.h"
#include "platform/wayland/RestoreTokenFile.h"

namespace corvane {

class PortalCast;
class PortalCastRegistry;
class ScreenCastPortal;

// Screen capture on a Wayland desktop, through the desktop portal's ScreenCast interface and
// PipeWire.
//
// The user picks a screen (or, where the desktop offers it, a window) in the system's dialog
// once: the portal's restore token is kept in Corvane's state file (RestoreTokenFile) and passed
// on every later start, which then needs no dialog. A token the portal does not accept leads to
// one request without it; a dialog the user dismissed, or a request without a token that failed,
// is not repeated until requestAccess() or chooseAgain(), so recovery can never turn into a
// stream of dialogs.
//
// What was chosen is offered as the one display of shareableContent(), at the stream's size;
// listing starts the portal session when none runs (the dialog on a first start), and the next
// openVideo() uses that session. Frames: PipeWire sends a picture only when the screen changes;
// the newest one is handed to the video queue at the configured rate all the same (a still screen
// records as video), stamped on the capture clock when handed over. The stream stops itself, with
// the reason, when the portal closes the session (revoked, compositor gone), PipeWire ends the
// stream or the connection, or the picture changes size (the capture then starts again at the new
// size). Stopping a stream closes its portal session.
//
// Thread-safe; starts run one at a time and may block as long as the dialog is open. Needs a
// QCoreApplication (the portal is reached over QtDBus on a thread of its own).
class PortalScreenCaptureBackend final : public ScreenCaptureBackend {
public:
    struct Options {
        std::string stateFile = RestoreTokenFile::defaultPath();
        // How long a new stream may take to agree on a picture format.
        std::chrono::milliseconds formatTimeout{5000};
    };

    PortalScreenCaptureBackend() : PortalScreenCaptureBackend(Options{}) {}
    explicit PortalScreenCaptureBackend(Options options);
    ~PortalScreenCaptureBackend() override;

    // The portal answers, and the user has not declined the dialog since the last requestAccess().
    bool isAvailable() override;
    std::string unavailableReason() override;
    std::string streamLabel() const override { return "Screen-sharing portal"; }
    // The next start may show the system dialog again (after the user declined it).
    void requestAccess() override;
    CaptureResult<ShareableContent> shareableContent() override;
    CaptureResult<std::unique_ptr<CaptureStream>> openVideo(const VideoStreamConfig& config,
                                                            Executor& videoQueue,
                                                            VideoStreamCallbacks callbacks) override;

    // Forgets the remembered choice: the next start shows the system dialog.
    void chooseAgain();
    // Ends a start waiting on the dialog and refuses new ones: for the quit path, before the
    // capture is stopped.
    void abandonRequests();

private:
    // mutex_ held.
    CaptureResult<std::shared_ptr<PortalCast>> prepareCast(bool showCursor);

    Options options_;
    RestoreTokenFile tokens_;
    std::shared_ptr<ScreenCastPortal> portal_;
    std::shared_ptr<PortalCastRegistry> registry_;
    std::atomic<bool> declined_{false};
    std::mutex mutex_;                     // one start at a time; guards the two below
    std::shared_ptr<PortalCast> prepared_;  // granted, not yet streaming
    std::weak_ptr<PortalCast> current_;     // the last one handed to a stream
};

}  // namespace corvane
