#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "core/capture/AudioLane.h"
#include "core/capture/AudioReconnect.h"
#include "core/capture/CaptureBackend.h"
#include "core/capture/CaptureControl.h"
#include "core/capture/CaptureRecovery.h"
#include "core/capture/CaptureSettings.h"
#include "core/capture/VideoEncoder.h"
#include "core/replay/CorvaneRingBuffer.h"
#include "core/sched/Scheduler.h"
#include "core/sched/SerialQueue.h"

namespace corvane {

// The live capture: picks the configured display or window, sizes the stream, creates a new
// encoder on every start, and routes frames to the encoder and audio to the buffer. A plain start
// (the first, after sleep) empties the replay buffer; a restart keeps it and continues it (with a
// new picture, as a run of another format that a save writes to a file of its own). Keeping the stream alive (watchdog, restarts,
// window-resize debounce) is the job of its CaptureRecovery, which it feeds with stream ends and
// size changes. Lost system audio is reopened by its AudioReconnect while video runs on.
//
// Threads:
//   - Starts, stops and the screen-access check run one at a time on the control lane (a serial
//     queue of its own, or the executor given in Dependencies), so two starts can never overlap.
//     They block on the back end.
//   - Every delay runs on the Scheduler (the main thread); stop, checkHealth, restart bookkeeping
//     and updateConfig belong to the main thread. restart() may be called from any thread.
//   - Frames arrive on "com.corvane.video-queue", audio on "com.corvane.audio-queue".
//   - The accessors (isRunning, captureWidth, ...) may be read from any thread.
//   - onStateChanged is called on the control lane.
// The back ends, encoder factory and scheduler must outlive the capture; the ring buffer is
// shared. Destruction (main thread) stops the stream and waits for it.
class CorvaneCapture final : public CaptureControl, private RecoverableCapture {
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

    CorvaneCapture(const CaptureSettings& settings, std::shared_ptr<CorvaneRingBuffer> ringBuffer,
                   Dependencies deps);
    ~CorvaneCapture() override;
    CorvaneCapture(const CorvaneCapture&) = delete;
    CorvaneCapture& operator=(const CorvaneCapture&) = delete;

    // Queues a start on the control lane and returns at once. Does nothing when already running.
    void start(StartCompletion done = {}) override;
    // Queues a stop on the control lane and returns at once; `done` runs there afterwards.
    // A restart under way ends at its next step instead of bringing the stream back.
    void stop(std::function<void()> done = {}) override;
    // Stops and waits at most `timeout` for it (the engine's quit path). True when it finished.
    // Not for use with a control lane that runs on the calling thread.
    bool stopAndWait(Duration timeout) override;
    // Rebuilds the stream in the background (CaptureRecovery). Any thread; returns at once.
    void restart() override;
    // Also treats an open system-audio stream that has delivered nothing for kAudioSilenceLimit
    // as lost (a monitor hands over a block every 20 ms, silence included; a stream the audio
    // server never linked gives none) and brings it back like one that ended.
    void checkHealth(bool isSystemSleeping) override;
    static constexpr Duration kAudioSilenceLimit = std::chrono::seconds(5);
    // Stores new settings (a bit rate below 1 becomes the one the encoder would get at the target
    // or current size) and restarts a running stream when any of them changed.
    void updateConfig(const CaptureSettings& settings) override;
    CaptureSettings settings() const override;

    bool isRunning() const override { return isRunning_.load(); }
    std::optional<SteadyTime> recordingStartTime() const override;
    int32_t captureWidth() const override { return captureWidth_.load(); }
    int32_t captureHeight() const override { return captureHeight_.load(); }
    // "Permission" is reachability of the screen; once seen, it is remembered.
    bool hasPermission() const override { return access_.load() != Access::Denied; }
    // Main thread, before start().
    void setOnStateChanged(std::function<void(bool running)> callback) override;
    // Main thread, before start(); called on the main thread.
    void setOnSystemAudioNotice(std::function<void(bool lost)> callback) override;
    bool isSystemAudioLost() const override { return systemAudioLost_.load(); }

private:
    struct Lifetime {};
    enum class Access { Unknown, Granted, Denied };

    // RecoverableCapture: main thread; completions hop back to it.
    bool isStartPending() const override { return startsInFlight_.load() > 0; }
    void stopForRestart(std::function<void()> done) override;
    void startForRestart(std::function<void(const std::optional<CaptureError>&)> done) override;
    void checkAccess(std::function<void(bool)> done) override;

    // Control lane.
    bool screenReachable();
    enum class StartReason { asked, recovery };
    std::optional<CaptureError> startOnLane(StartReason reason);
    std::optional<CaptureError> startStreamsOnLane(StartReason reason);
    void stopOnLane();
    void stopStreamsOnLane();
    std::optional<CaptureError> openAudioOnLane(uint64_t generation);
    bool reopenAudioOnLane();
    void endAudioLane();
    void handleStreamStopped(uint64_t generation, const std::string& errorText);
    void handleAudioStopped(uint64_t generation, const std::string& errorText);
    void notifyState(bool running);
    int64_t nowNs() const;

    // Video queue.
    void handleFrame(uint64_t generation, const RawVideoFrame& frame,
                     const std::optional<WindowContent>& content);
    void checkWindowResize(double width, double height, std::optional<double> scale);

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
    std::atomic<Access> access_{Access::Unknown};

    std::atomic<bool> isRunning_{false};
    std::atomic<int32_t> captureWidth_{0};
    std::atomic<int32_t> captureHeight_{0};
    std::atomic<int64_t> startTimeNs_{0};              // scheduler time since epoch; 0: none
    // Scheduler time of the newest system-audio block, or of the stream's opening; 0: no stream.
    std::atomic<int64_t> lastAudioNs_{0};
    std::atomic<int> startsInFlight_{0};
    std::atomic<bool> systemAudioLost_{false};  // the running stream's audio ended by itself

    // Control lane only.
    std::unique_ptr<CaptureStream> videoStream_;
    std::unique_ptr<CaptureStream> audioStream_;
    // Fed on the audio queue by the running audio stream's callback; ended on the control lane
    // once that queue is idle.
    std::shared_ptr<AudioLane> audioLane_;
    bool audioUnavailableReported_ = false;
    // A restart (not a plain start) is stopping and starting the stream: its start keeps the buffer.
    bool keepBufferOnNextStart_ = false;

    // Shared between the control lane and the video/audio queues.
    mutable std::mutex streamMutex_;
    uint64_t activeGeneration_ = 0;                    // guarded by streamMutex_; 0: none
    std::shared_ptr<VideoEncoder> encoder_;           // guarded by streamMutex_
    WindowResizeDetector resizeDetector_;              // guarded by streamMutex_
    std::atomic<uint64_t> nextGeneration_{1};
    std::atomic<uint64_t> resizeGeneration_{0};

    // Main thread only.
    CaptureRecovery recovery_{scheduler_, *this};
    std::function<void(bool)> onAudioNotice_;  // set before start
    AudioReconnect audioReconnect_{
        scheduler_,
        {[this](std::function<void(bool)> done) {
             postToLane([this, done = std::move(done)] {
                 const bool opened = reopenAudioOnLane();
                 postToMain([done, opened] { done(opened); });
             });
         },
         [this](bool lost) {
             if (onAudioNotice_) onAudioNotice_(lost);
         }}};

    // Declared last: destroyed first, so no queue task outlives the members it uses.
    SerialQueue videoQueue_{"com.corvane.video-queue"};
    SerialQueue audioQueue_{"com.corvane.audio-queue"};
    std::unique_ptr<SerialQueue> ownedLane_;
    Executor* lane_;
};

}  // namespace corvane
