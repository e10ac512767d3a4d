#include "core/engine/CorvaneCaptureControl.h"

namespace corvane {

void CorvaneCaptureControl::start(std::function<void(std::optional<std::string>)> done) {
    capture_->start([done = std::move(done)](const std::optional<CaptureError>& error) {
        if (!done) return;
        if (error) {
            done(error->message);
        } else {
            done(std::nullopt);
        }
    });
}

void CorvaneCaptureControl::updateConfig(const CaptureSettings& s) {
    capture_->updateConfig(s.fps, s.bitrateKbps, s.codec, s.targetWidth, s.targetHeight,
                           s.recordAudio, s.displayId, s.windowId, s.windowScale);
}

}  // namespace corvane
