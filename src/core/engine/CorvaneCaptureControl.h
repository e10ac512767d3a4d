#pragma once

#include <memory>

#include "core/capture/CorvaneCapture.h"
#include "core/engine/CaptureControl.h"

namespace corvane {

// The engine's view of the real capture: forwards every call to the CorvaneCapture it owns.
class CorvaneCaptureControl final : public CaptureControl {
public:
    explicit CorvaneCaptureControl(std::unique_ptr<CorvaneCapture> capture)
        : capture_(std::move(capture)) {}

    void start(std::function<void(std::optional<std::string>)> done) override;
    void stop(std::function<void()> done) override { capture_->stop(std::move(done)); }
    bool stopAndWait(Duration timeout) override { return capture_->stopAndWait(timeout); }
    void restart() override { capture_->restart(); }
    void checkHealth(bool isSystemSleeping) override { capture_->checkHealth(isSystemSleeping); }
    void updateConfig(const CaptureSettings& s) override;
    CaptureSettings settings() const override { return capture_->settings(); }

    bool isRunning() const override { return capture_->isRunning(); }
    std::optional<SteadyTime> recordingStartTime() const override {
        return capture_->recordingStartTime();
    }
    int32_t captureWidth() const override { return capture_->captureWidth(); }
    int32_t captureHeight() const override { return capture_->captureHeight(); }
    bool hasPermission() override { return capture_->hasPermission(); }
    void setOnStateChanged(std::function<void(bool)> callback) override {
        capture_->setOnStateChanged(std::move(callback));
    }

    CorvaneCapture& capture() { return *capture_; }

private:
    std::unique_ptr<CorvaneCapture> capture_;
};

}  // namespace corvane
