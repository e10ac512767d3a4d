#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "core/capture/AudioLane.h"
#include "core/capture/CaptureBackend.h"
#include "core/capture/CaptureSettings.h"
#include "core/capture/VideoEncoder.h"
#include "core/replay/CorvaneRingBuffer.h"
#include "core/sched/Scheduler.h"
#include "core/sched/SerialQueue.h"

namespace corvane {

// The live capture: picks the configured display or window, sizes the stream, creates a new
// encoder and an empty replay buffer on every start, routes frames to the encoder and audio to the
// buffer, and keeps the stream alive (watchdog, restart with five attempts, window-resize
// debounce).
//
// Threads:
//   - Starts and stops run one at a time on the control lane (a serial queue of its own, or the
//     executor given in Dependencies), so two starts can never overlap. They block on the back end.
//   - Every delay (restart pauses, resize debounce) runs on the Scheduler (the main thread);
//     checkHealth, restart bookkeeping and updateConfig belong to the main thread.
//   - Frames arrive on "com.corvane.video-queue", audio on "com.corvane.audio-queue".
//   - The accessors (isRunning, captureWidth, ...) may be read from any thread.
//   - onStateChanged is called on the control lane.
// The back ends, encoder factory and scheduler must outlive the capture; the ring buffer is
// shared. Destruction (main thread) stops the stream and waits for it.
class CorvaneCapture {
public:
    struct Dependencies {
        ScreenCaptureBackend& screen;
        SystemAudioBackend* audio = nullptr;  // none: video only
        VideoEncoderFactory& encoders;
        Scheduler& scheduler;
        // Where starts and stops run; nullptr makes a serial queue of the capture's own. Tests pass
        // their ManualScheduler so that every step runs in virtual time on the test thread.
        Executor* controlLane = nullptr;
        // Compresses the audio for the buffer; none: captured audio is not kept (clips get silence).
        AudioEncoderFactory* audioEncoders = nullptr;
    };
    // Called on the control lane when a start fails (nullopt: it succeeded or capture was already
    // running).
    using StartCompletion = std::function<void(const std::optional<CaptureError>& error)>;

    static constexpr Duration kRestartPause = std::chrono::milliseconds(500);
    static constexpr Duration kRetryPause = std::chrono::milliseconds(1500);
    static constexpr Duration kResizeDebounce = std::chrono::milliseconds(500);
    static constexpr int kRestartAttempts = 5;

    CorvaneCapture(const CaptureSettings& settings, std::shared_ptr<CorvaneRingBuffer> ringBuffer,
                   Dependencies deps);
    ~CorvaneCapture();
    CorvaneCapture(const CorvaneCapture&) = delete;
    CorvaneCapture& operator=(const CorvaneCapture&) = delete;

    // Queues a start on the control lane and returns at once. Does nothing when already running.
    void start(StartCompletion done = {});
    // Queues a stop on the control lane and returns at once; `done` runs there afterwards.
    // A restart under way ends at its next step instead of bringing the stream back. Any thread.
    void stop(std::function<void()> done = {});
    // Stops and waits at most `timeout` for it (the engine's quit path). True when it finished.
    // Not for use with a control lane that runs on the calling thread.
    bool stopAndWait(Duration timeout);

    // Rebuilds the stream in the background: stop, clear the buffer, 0.5 s pause, up to five
    // start attempts 1.5 s apart. Any thread; returns at once. A restart asked for while one runs
    // ends the running one at its next step and runs once more afterwards.
    void restart();
    // The watchdog step, every third status tick (main thread): restarts a stopped stream unless
    // the system sleeps, a start or restart is under way, or the screen cannot be reached.
    void checkHealth(bool isSystemSleeping);

    // Stores new settings; restarts a running stream when any of them changed. A bit rate of 0 or
    // less is replaced by the derived one. Main thread. Returns true when it asked for a restart.
    bool updateConfig(int32_t fps, int32_t bitrateKbps, int32_t codec, int32_t targetWidth,
                      int32_t targetHeight, bool recordAudio, uint32_t displayId, uint32_t windowId,
                      float windowScale);

    static int32_t calculateDynamicBitrate(int32_t width, int32_t height, int32_t fps) {
        return corvane::calculateDynamicBitrate(width, height, fps);
    }

    // "Permission" is reachability of the screen; once seen, it is remembered.
    bool hasPermission();
    void requestPermission();

    bool isRunning() const { return isRunning_.load(); }
    bool isRestarting() const { return isRestarting_.load(); }
    int32_t captureWidth() const { return captureWidth_.load(); }
    int32_t captureHeight() const { return captureHeight_.load(); }
    int32_t currentFps() const;
    int32_t currentBitrateKbps() const;
    bool currentCodecIsHEVC() const;
    CaptureSettings settings() const;
    // Scheduler time of the current stream's start; nullopt while stopped.
    std::optional<SteadyTime> recordingStartTime() const;
    // Seconds since the start; 0 while stopped.
    double recordingDuration() const;

    float windowScale() const;
    void setWindowScale(float scale);
    // Main thread, before start().
    void setOnStateChanged(std::function<void(bool running)> callback);

private:
    struct Lifetime {};

    // Control lane.
    std::optional<CaptureError> startOnLane();
    void stopOnLane();
    void stopStreamsOnLane();
    void endAudioLane();
    void handleStreamStopped(uint64_t generation, const std::string& errorText);
    void handleAudioStopped(uint64_t generation, const std::string& errorText);
    void notifyState(bool running);

    // Video queue.
    void handleFrame(uint64_t generation, const RawVideoFrame& frame,
                     const std::optional<WindowContent>& content);
    void checkWindowResize(double width, double height, std::optional<double> scale);

    // Main thread.
    void restartOnMain();
    void beginRestart();
    void attemptStart(int attempt);
    void endRestart();
    void sleepThen(Duration delay, std::function<void()> then);
    // Ends a restart's pause at once (as if it had elapsed); the restart then checks why.
    void wakeSleepingRestart();
    void scheduleResizeRestart(uint64_t resizeGeneration, double width, double height);

    void postToLane(std::function<void()> task);
    void postToMain(std::function<void()> task);

    std::shared_ptr<CorvaneRingBuffer> ringBuffer_;
    ScreenCaptureBackend& screen_;
    SystemAudioBackend* audio_;
    VideoEncoderFactory& encoders_;
    AudioEncoderFactory* audioEncoders_;
    Scheduler& scheduler_;
    std::shared_ptr<Lifetime> lifetime_ = std::make_shared<Lifetime>();
    // Never reassigned, so other threads may copy it while the destructor expires it.
    const std::weak_ptr<Lifetime> weakLifetime_ = lifetime_;

    mutable std::mutex settingsMutex_;
    CaptureSettings settings_;                         // guarded by settingsMutex_
    std::function<void(bool)> onStateChanged_;         // set before start, read on the lane
    std::atomic<bool> cachedPermission_{false};

    std::atomic<bool> isRunning_{false};
    std::atomic<bool> isRestarting_{false};
    std::atomic<int32_t> captureWidth_{0};
    std::atomic<int32_t> captureHeight_{0};
    std::atomic<int64_t> startTimeNs_{0};              // scheduler time since epoch; 0: none
    std::atomic<int> startsInFlight_{0};
    std::atomic<uint64_t> stopRequests_{0};            // deliberate stops asked for so far

    // Control lane only.
    std::unique_ptr<CaptureStream> videoStream_;
    std::unique_ptr<CaptureStream> audioStream_;
    // Fed on the audio queue by the running audio stream's callback; ended on the control lane
    // once that queue is idle.
    std::shared_ptr<AudioLane> audioLane_;
    bool audioUnavailableReported_ = false;

    // Shared between the control lane and the video/audio queues.
    mutable std::mutex streamMutex_;
    uint64_t activeGeneration_ = 0;                    // guarded by streamMutex_; 0: none
    std::shared_ptr<VideoEncoder> encoder_;           // guarded by streamMutex_
    WindowResizeDetector resizeDetector_;              // guarded by streamMutex_
    std::atomic<uint64_t> nextGeneration_{1};
    std::atomic<uint64_t> resizeGeneration_{0};

    // Main thread only.
    bool restartCancelled_ = false;
    bool restartPending_ = false;
    uint64_t restartStopMark_ = 0;  // stopRequests_ when the running restart began
    std::function<void()> sleepContinuation_;
    ScheduledTask sleepTask_;
    ScheduledTask resizeTask_;

    // Declared last: destroyed first, so no queue task outlives the members it uses.
    SerialQueue videoQueue_{"com.corvane.video-queue"};
    SerialQueue audioQueue_{"com.corvane.audio-queue"};
    std::unique_ptr<SerialQueue> ownedLane_;
    Executor* lane_;
};

}  // namespace corvane
