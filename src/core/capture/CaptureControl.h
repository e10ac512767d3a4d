#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "core/capture/CaptureBackend.h"
#include "core/capture/CaptureSettings.h"
#include "core/sched/Clock.h"

namespace corvane {

// The part of the live capture the engine drives: start and stop, the watchdog and restarts,
// settings, and the figures for the status. CorvaneCapture implements it; the engine's tests
// plug in a fake.
//
// Thread: called on the main thread; the accessors may be read from any thread. Completion
// callbacks and the state callback arrive on the capture's own lane, not the main thread.
class CaptureControl {
public:
    // nullopt: the start succeeded (or capture was already running).
    using StartCompletion = std::function<void(const std::optional<CaptureError>& error)>;

    virtual ~CaptureControl() = default;

    // Starts in the background.
    virtual void start(StartCompletion done) = 0;
    virtual void stop(std::function<void()> done) = 0;
    // Stops and waits at most `timeout`; false when the stop did not finish in time.
    virtual bool stopAndWait(Duration timeout) = 0;
    virtual void restart() = 0;
    virtual void checkHealth(bool isSystemSleeping) = 0;
    // Stores the settings; a running stream restarts only when one of them changed. A bit rate
    // of 0 or less is replaced by the one the encoder would get (encoderBitrateKbps).
    virtual void updateConfig(const CaptureSettings& settings) = 0;
    virtual CaptureSettings settings() const = 0;

    virtual bool isRunning() const = 0;
    // Scheduler time of the current stream's start; nullopt while stopped.
    virtual std::optional<SteadyTime> recordingStartTime() const = 0;
    virtual int32_t captureWidth() const = 0;
    virtual int32_t captureHeight() const = 0;
    // Whether the screen can be captured, as last found out (at a start or a watchdog step);
    // true until a check has said otherwise. Never blocks.
    virtual bool hasPermission() const = 0;
    virtual void setOnStateChanged(std::function<void(bool running)> callback) = 0;
    // System audio ended by itself and has not come back yet (it is being reconnected).
    virtual bool isSystemAudioLost() const { return false; }
    // Called on the main thread once when system audio has been lost for a few seconds (true)
    // and once when it is back after that (false). Set before start.
    virtual void setOnSystemAudioNotice(std::function<void(bool lost)>) {}
};

}  // namespace corvane
