#pragma once

// The screen capture back end where the session offers none: never available, and every
// request fails with one clear reason ("Screen capture is not available (<reason>)").
//
// Thread-safe (immutable).

#include <string>

#include "core/capture/CaptureBackend.h"

namespace corvane {

class NullScreenCapture final : public ScreenCaptureBackend {
public:
    // reason: lower case, shown in parentheses ("cannot open the X display").
    explicit NullScreenCapture(std::string reason);

    bool isAvailable() override { return false; }
    std::string unavailableReason() override { return reason_; }
    void requestAccess() override {}
    CaptureResult<ShareableContent> shareableContent() override { return error(); }
    CaptureResult<std::unique_ptr<CaptureStream>> openVideo(const VideoStreamConfig&, Executor&,
                                                            VideoStreamCallbacks) override {
        return error();
    }

private:
    CaptureError error() const { return error_; }

    std::string reason_;
    CaptureError error_;
};

}  // namespace corvane
