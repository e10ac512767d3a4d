#pragma once

#include <memory>
#include <optional>
#include <string>

#include "core/capture/CaptureBackend.h"

namespace corvane::test {

// Lists whatever the test puts in `content`; never opens streams.
class FakeCaptureSources final : public ScreenCaptureBackend {
public:
    ShareableContent content;
    bool available = true;
    std::optional<std::string> listError;  // set: listing fails with this text
    int listings = 0;                      // shareableContent() calls

    bool isAvailable() override { return available; }
    std::string unavailableReason() override { return "cannot open the X display"; }
    void requestAccess() override {}
    CaptureResult<ShareableContent> shareableContent() override {
        ++listings;
        if (listError) return CaptureError{"X11", 1, *listError};
        return content;
    }
    CaptureResult<std::unique_ptr<CaptureStream>> openVideo(const VideoStreamConfig&, Executor&,
                                                            VideoStreamCallbacks) override {
        return CaptureError{"Corvane", 2, "not in this test"};
    }
};

}  // namespace corvane::test
