#include "core/capture/CorvaneCapture.h"

#include <condition_variable>
#include <utility>

#include "core/log/Log.h"

namespace corvane {
namespace {

constexpr const char* kPermissionText = "Screen capture is not available (cannot open the X display).";
constexpr const char* kNoDisplayText = "No display detected.";

std::string describeTarget(const CaptureTarget& target) {
    if (target.window) {
        return "window [" + std::to_string(target.window->id) + "] " + target.window->appName;
    }
    return "display [" + std::to_string(target.display.id) + "]";
}

}  // namespace

CorvaneCapture::CorvaneCapture(const CaptureSettings& settings,
                               std::shared_ptr<CorvaneRingBuffer> ringBuffer, Dependencies deps)
    : ringBuffer_(std::move(ringBuffer)),
      screen_(deps.screen),
      audio_(deps.audio),
      encoders_(deps.encoders),
      scheduler_(deps.scheduler),
      settings_(settings) {
    if (!deps.controlLane) ownedLane_ = std::make_unique<SerialQueue>("com.corvane.capture-control");
    lane_ = deps.controlLane ? deps.controlLane : ownedLane_.get();
}

CorvaneCapture::~CorvaneCapture() {
    // Main-thread tasks and lane tasks still queued become no-ops from here on.
    lifetime_.reset();
    sleepTask_.cancel();
    resizeTask_.cancel();
    if (ownedLane_) {
        ownedLane_->stop(SerialQueue::StopMode::Discard);
    }
    // The lane is idle now (or it is the caller's own executor): stop on this thread.
    stopStreamsOnLane();
    videoQueue_.stop(SerialQueue::StopMode::Discard);
    audioQueue_.stop(SerialQueue::StopMode::Discard);
}

// ---------------------------------------------------------------------------------------------
// Posting helpers: every deferred task holds the capture weakly.

void CorvaneCapture::postToLane(std::function<void()> task) {
    std::weak_ptr<Lifetime> alive = weakLifetime_;
    lane_->post([alive, task = std::move(task)] {
        if (auto keep = alive.lock()) task();
    });
}

void CorvaneCapture::postToMain(std::function<void()> task) {
    std::weak_ptr<Lifetime> alive = weakLifetime_;
    scheduler_.post([alive, task = std::move(task)] {
        if (auto keep = alive.lock()) task();
    });
}

// ---------------------------------------------------------------------------------------------
// Public control.

void CorvaneCapture::start(StartCompletion done) {
    ++startsInFlight_;
    postToLane([this, done = std::move(done)] {
        std::optional<CaptureError> error = startOnLane();
        --startsInFlight_;
        if (done) done(error);
    });
}

void CorvaneCapture::stop(std::function<void()> done) {
    ++stopRequests_;
    postToLane([this, done = std::move(done)] {
        stopOnLane();
        if (done) done();
    });
    // A restart sleeping between attempts finds the stop now rather than after its pause.
    postToMain([this] {
        if (isRestarting_.load()) wakeSleepingRestart();
    });
}

bool CorvaneCapture::stopAndWait(Duration timeout) {
    struct Signal {
        std::mutex mutex;
        std::condition_variable cv;
        bool done = false;
    };
    auto signal = std::make_shared<Signal>();
    stop([signal] {
        std::lock_guard lock(signal->mutex);
        signal->done = true;
        signal->cv.notify_all();
    });
    std::unique_lock lock(signal->mutex);
    return signal->cv.wait_for(lock, timeout, [&] { return signal->done; });
}

bool CorvaneCapture::hasPermission() {
    if (cachedPermission_.load()) return true;
    if (screen_.isAvailable()) {
        cachedPermission_ = true;
        return true;
    }
    return false;
}

void CorvaneCapture::requestPermission() { screen_.requestAccess(); }

int32_t CorvaneCapture::currentFps() const {
    std::lock_guard lock(settingsMutex_);
    return settings_.fps;
}
int32_t CorvaneCapture::currentBitrateKbps() const {
    std::lock_guard lock(settingsMutex_);
    return settings_.bitrateKbps;
}
bool CorvaneCapture::currentCodecIsHEVC() const {
    std::lock_guard lock(settingsMutex_);
    return settings_.codec == 1;
}
CaptureSettings CorvaneCapture::settings() const {
    std::lock_guard lock(settingsMutex_);
    return settings_;
}
float CorvaneCapture::windowScale() const {
    std::lock_guard lock(settingsMutex_);
    return settings_.windowScale;
}
void CorvaneCapture::setWindowScale(float scale) {
    std::lock_guard lock(settingsMutex_);
    settings_.windowScale = scale;
}
void CorvaneCapture::setOnStateChanged(std::function<void(bool)> callback) {
    onStateChanged_ = std::move(callback);
}

std::optional<SteadyTime> CorvaneCapture::recordingStartTime() const {
    int64_t ns = startTimeNs_.load();
    if (ns == 0 || !isRunning_.load()) return std::nullopt;
    return SteadyTime(std::chrono::duration_cast<SteadyTime::duration>(std::chrono::nanoseconds(ns)));
}

double CorvaneCapture::recordingDuration() const {
    auto start = recordingStartTime();
    if (!start) return 0.0;
    return toSeconds(scheduler_.now() - *start);
}

bool CorvaneCapture::updateConfig(int32_t fps, int32_t bitrateKbps, int32_t codec,
                                  int32_t targetWidth, int32_t targetHeight, bool recordAudio,
                                  uint32_t displayId, uint32_t windowId, float windowScale) {
    int32_t effectiveBitrate = bitrateKbps;
    if (effectiveBitrate < 1) {
        int32_t w = targetWidth >= 1 ? targetWidth : captureWidth_.load();
        int32_t h = targetHeight >= 1 ? targetHeight : captureHeight_.load();
        if (w < 1) w = 1920;
        if (h < 1) h = 1080;
        effectiveBitrate = calculateDynamicBitrate(w, h, fps);
    }
    CaptureSettings next{fps,         effectiveBitrate, codec,    targetWidth, targetHeight,
                         recordAudio, displayId,        windowId, windowScale};
    bool changed;
    {
        std::lock_guard lock(settingsMutex_);
        changed = !(next == settings_);
        settings_ = next;
    }
    if (changed && isRunning_.load()) {
        restart();
        return true;
    }
    return false;
}

// ---------------------------------------------------------------------------------------------
// Control lane: start and stop.

std::optional<CaptureError> CorvaneCapture::startOnLane() {
    if (isRunning_.load()) return std::nullopt;

    {
        std::lock_guard lock(streamMutex_);
        resizeDetector_.reset();
    }
    ++resizeGeneration_;

    if (!hasPermission()) {
        screen_.requestAccess();
        return CaptureError{"Corvane", 1, kPermissionText};
    }

    CaptureResult<ShareableContent> content = screen_.shareableContent();
    if (!content) return content.error();

    CaptureSettings settings = this->settings();
    std::optional<CaptureTarget> target = chooseCaptureTarget(content.value(), settings);
    if (!target) return CaptureError{"Corvane", 2, kNoDisplayText};
    if (target->windowMissing) {
        logLine("Configured window " + std::to_string(settings.windowId) +
                " no longer found. Falling back to display capture.");
    }
    captureWidth_ = target->width;
    captureHeight_ = target->height;

    // Whatever is left of an interrupted stream goes before the new one starts.
    stopStreamsOnLane();
    ringBuffer_->clear();

    int32_t fps = effectiveFps(settings.fps);
    int32_t bitrate = settings.bitrateKbps >= 1
                          ? settings.bitrateKbps
                          : calculateDynamicBitrate(target->width, target->height, fps);
    EncoderSettings encoderSettings{target->width, target->height, fps, bitrate, settings.codec == 1};
    std::shared_ptr<VideoEncoder> encoder =
        encoders_.create(encoderSettings, std::weak_ptr<VideoPacketSink>(ringBuffer_));

    uint64_t generation = nextGeneration_++;
    {
        std::lock_guard lock(streamMutex_);
        encoder_ = encoder;
        activeGeneration_ = generation;
    }

    VideoStreamConfig config;
    config.displayId = target->display.id;
    config.windowId = target->window ? target->window->id : 0;
    config.width = target->width;
    config.height = target->height;
    config.fps = fps;
    VideoStreamCallbacks video;
    video.onFrame = [this, generation](const RawVideoFrame& frame,
                                       const std::optional<WindowContent>& content) {
        handleFrame(generation, frame, content);
    };
    video.onStopped = [this, generation](const std::string& text) {
        postToLane([this, generation, text] { handleStreamStopped(generation, text); });
    };
    CaptureResult<std::unique_ptr<CaptureStream>> opened =
        screen_.openVideo(config, videoQueue_, std::move(video));
    if (!opened) {
        std::lock_guard lock(streamMutex_);
        activeGeneration_ = 0;
        return opened.error();
    }
    videoStream_ = opened.takeValue();

    // Video never depends on audio: without an audio server the clip simply has silence.
    if (settings.recordAudio) {
        CaptureError audioError{"PulseAudio", 0, "no audio back end"};
        if (audio_) {
            AudioStreamCallbacks callbacks;
            callbacks.onAudio = [this, generation](const AudioBlock& block) {
                {
                    std::lock_guard lock(streamMutex_);
                    if (generation != activeGeneration_) return;
                }
                ringBuffer_->appendAudio(block);
            };
            callbacks.onStopped = [this, generation](const std::string& text) {
                postToLane([this, generation, text] { handleAudioStopped(generation, text); });
            };
            auto audioStream = audio_->openSystemAudio(audioQueue_, std::move(callbacks));
            if (audioStream) {
                audioStream_ = audioStream.takeValue();
                audioUnavailableReported_ = false;
            } else {
                audioError = audioStream.error();
            }
        }
        if (!audioStream_ && !audioUnavailableReported_) {
            audioUnavailableReported_ = true;
            logLine("System audio unavailable (" + audioError.message +
                    "); recording video only.");
        }
    }

    startTimeNs_ = std::chrono::duration_cast<std::chrono::nanoseconds>(
                       scheduler_.now().time_since_epoch())
                       .count();
    isRunning_ = true;
    logLine("X11 capture stream started on " + describeTarget(*target) + " (" +
            std::to_string(target->width) + "x" + std::to_string(target->height) + " @ " +
            std::to_string(settings.fps) + "fps)");
    notifyState(true);
    return std::nullopt;
}

void CorvaneCapture::stopOnLane() {
    ++resizeGeneration_;
    if (!videoStream_) {
        isRunning_ = false;
        startTimeNs_ = 0;
        return;
    }
    stopStreamsOnLane();
    isRunning_ = false;
    startTimeNs_ = 0;
    {
        std::lock_guard lock(streamMutex_);
        resizeDetector_.reset();
    }
    logLine("Capture stopped");
    notifyState(false);
}

// Ends both streams, lets the frames already queued reach the encoder, then flushes and drops it.
// The events of the old streams no longer count once the generation is cleared.
void CorvaneCapture::stopStreamsOnLane() {
    {
        std::lock_guard lock(streamMutex_);
        activeGeneration_ = 0;
    }
    if (videoStream_) videoStream_->stop();
    if (audioStream_) audioStream_->stop();
    videoStream_.reset();
    audioStream_.reset();
    std::shared_ptr<VideoEncoder> encoder;
    {
        std::lock_guard lock(streamMutex_);
        encoder = std::move(encoder_);
        encoder_.reset();
    }
    if (encoder) {
        // finish() must not run while the video queue is still inside encode().
        if (videoQueue_.isCurrent()) {
            encoder->finish();
        } else {
            videoQueue_.waitIdle();
            encoder->finish();
        }
    }
}

void CorvaneCapture::handleStreamStopped(uint64_t generation, const std::string& errorText) {
    {
        std::lock_guard lock(streamMutex_);
        if (generation != activeGeneration_) return;  // an older stream, or one we stopped
    }
    if (!isRunning_.load()) return;
    logLine("Stream interrupted: " + errorText);
    isRunning_ = false;
    startTimeNs_ = 0;
    notifyState(false);
    restart();
}

void CorvaneCapture::handleAudioStopped(uint64_t generation, const std::string& errorText) {
    {
        std::lock_guard lock(streamMutex_);
        if (generation != activeGeneration_) return;
    }
    if (!audioStream_) return;
    audioStream_->stop();
    audioStream_.reset();
    logLine("System audio stopped (" + errorText + "); recording video only.");
}

void CorvaneCapture::notifyState(bool running) {
    if (onStateChanged_) onStateChanged_(running);
}

// ---------------------------------------------------------------------------------------------
// Video queue.

void CorvaneCapture::handleFrame(uint64_t generation, const RawVideoFrame& frame,
                                 const std::optional<WindowContent>& content) {
    std::shared_ptr<VideoEncoder> encoder;
    {
        std::lock_guard lock(streamMutex_);
        if (generation != activeGeneration_) return;
        encoder = encoder_;
    }
    if (content && content->width > 0 && content->height > 0) {
        checkWindowResize(content->width, content->height, content->scale);
    }
    if (encoder && encoder->isReady()) encoder->encode(frame);
}

void CorvaneCapture::checkWindowResize(double width, double height, std::optional<double> scale) {
    bool changed;
    {
        std::lock_guard lock(streamMutex_);
        changed = resizeDetector_.report(width, height, scale);
    }
    if (!changed) return;
    uint64_t resizeGeneration = resizeGeneration_.load();
    postToMain([this, resizeGeneration, width, height] {
        scheduleResizeRestart(resizeGeneration, width, height);
    });
}

// ---------------------------------------------------------------------------------------------
// Main thread: watchdog, restart, resize debounce.

void CorvaneCapture::scheduleResizeRestart(uint64_t resizeGeneration, double width, double height) {
    if (resizeGeneration != resizeGeneration_.load()) return;
    std::weak_ptr<Lifetime> alive = weakLifetime_;
    resizeTask_.startOnce(scheduler_, kResizeDebounce,
                          [this, alive, resizeGeneration, width, height] {
                              if (!alive.lock()) return;
                              // A start or stop since the change makes it moot.
                              if (resizeGeneration != resizeGeneration_.load()) return;
                              if (!isRunning_.load()) return;
                              logLine("Window resize detected (" + std::to_string(int64_t(width)) +
                                      "x" + std::to_string(int64_t(height)) +
                                      "). Adjusting capture stream...");
                              restartOnMain();
                          });
}

void CorvaneCapture::checkHealth(bool isSystemSleeping) {
    if (isSystemSleeping) return;
    if (isRunning_.load() || isRestarting_.load() || startsInFlight_.load() > 0) return;
    if (!hasPermission()) return;
    logLine("Watchdog: Stream is idle. Triggering auto-recovery...");
    restartOnMain();
}

void CorvaneCapture::restart() {
    postToMain([this] { restartOnMain(); });
}

void CorvaneCapture::restartOnMain() {
    if (!isRestarting_.load()) {
        beginRestart();
        return;
    }
    // The running restart ends at its next step; this one runs when it has.
    restartCancelled_ = true;
    restartPending_ = true;
    wakeSleepingRestart();
}

void CorvaneCapture::wakeSleepingRestart() {
    if (!sleepContinuation_) return;
    sleepTask_.cancel();
    auto then = std::move(sleepContinuation_);
    sleepContinuation_ = nullptr;
    then();
}

void CorvaneCapture::beginRestart() {
    isRestarting_ = true;
    restartCancelled_ = false;
    restartStopMark_ = stopRequests_.load();
    logLine("Restarting capture stream...");
    postToLane([this] {
        stopOnLane();
        ringBuffer_->clear();
        postToMain([this] { sleepThen(kRestartPause, [this] { attemptStart(1); }); });
    });
}

void CorvaneCapture::attemptStart(int attempt) {
    if (stopRequests_.load() != restartStopMark_) {
        // Stopped on purpose (sleep, quit) while recovering: stay stopped.
        restartPending_ = false;
        endRestart();
        return;
    }
    if (restartCancelled_) {
        endRestart();
        return;
    }
    ++startsInFlight_;
    postToLane([this, attempt] {
        std::optional<CaptureError> error = startOnLane();
        --startsInFlight_;
        postToMain([this, attempt, error] {
            if (!error) {
                logLine("Capture stream successfully recovered.");
                endRestart();
                return;
            }
            logLine("Recovery attempt " + std::to_string(attempt) + " failed: " + error->message +
                    ". Retrying in 1.5s...");
            sleepThen(kRetryPause, [this, attempt] {
                if (attempt >= kRestartAttempts) {
                    endRestart();
                } else {
                    attemptStart(attempt + 1);
                }
            });
        });
    });
}

void CorvaneCapture::endRestart() {
    isRestarting_ = false;
    restartCancelled_ = false;
    if (restartPending_) {
        restartPending_ = false;
        beginRestart();
    }
}

void CorvaneCapture::sleepThen(Duration delay, std::function<void()> then) {
    sleepContinuation_ = std::move(then);
    std::weak_ptr<Lifetime> alive = weakLifetime_;
    sleepTask_.startOnce(scheduler_, delay, [this, alive] {
        if (!alive.lock()) return;
        auto next = std::move(sleepContinuation_);
        sleepContinuation_ = nullptr;
        if (next) next();
    });
}

}  // namespace corvane
