#include "core/capture/CorvaneCapture.h"

#include <condition_variable>
#include <utility>

#include "core/log/Log.h"

namespace corvane {
namespace {

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
      audioEncoders_(deps.audioEncoders),
      scheduler_(deps.scheduler),
      settings_(settings) {
    if (!deps.controlLane) ownedLane_ = std::make_unique<SerialQueue>("com.corvane.capture-control");
    lane_ = deps.controlLane ? deps.controlLane : ownedLane_.get();
}

CorvaneCapture::~CorvaneCapture() {
    // Main-thread tasks and lane tasks still queued become no-ops from here on.
    lifetime_.reset();
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
        keepBufferOnNextStart_ = false;  // a plain start begins a new replay
        std::optional<CaptureError> error = startOnLane(StartReason::asked);
        --startsInFlight_;
        if (done) done(error);
    });
}

void CorvaneCapture::stop(std::function<void()> done) {
    postToLane([this, done = std::move(done)] {
        stopOnLane();
        keepBufferOnNextStart_ = false;
        if (done) done();
    });
    // Queued after the stop: a restart that now ends at once cannot start behind it.
    recovery_.noteDeliberateStop();
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

void CorvaneCapture::restart() {
    postToMain([this] { recovery_.requestRestart(); });
}

void CorvaneCapture::checkHealth(bool isSystemSleeping) {
    recovery_.checkHealth(isSystemSleeping);
    const int64_t lastAudio = lastAudioNs_.load();
    if (isSystemSleeping || lastAudio == 0) return;
    if (nowNs() - lastAudio < std::chrono::duration_cast<std::chrono::nanoseconds>(kAudioSilenceLimit).count()) return;
    uint64_t generation;
    {
        std::lock_guard lock(streamMutex_);
        generation = activeGeneration_;
    }
    lastAudioNs_ = 0;  // one report per silent stream
    postToLane([this, generation] {
        handleAudioStopped(generation, "no sound from the audio server for " +
                                           std::to_string(std::chrono::duration_cast<std::chrono::seconds>(kAudioSilenceLimit).count()) + " s");
    });
}

int64_t CorvaneCapture::nowNs() const {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(scheduler_.now().time_since_epoch()).count();
}

CaptureSettings CorvaneCapture::settings() const {
    std::lock_guard lock(settingsMutex_);
    return settings_;
}
void CorvaneCapture::setOnStateChanged(std::function<void(bool)> callback) {
    onStateChanged_ = std::move(callback);
}
void CorvaneCapture::setOnSystemAudioNotice(std::function<void(bool lost)> callback) {
    onAudioNotice_ = std::move(callback);
}

std::optional<SteadyTime> CorvaneCapture::recordingStartTime() const {
    int64_t ns = startTimeNs_.load();
    if (ns == 0 || !isRunning_.load()) return std::nullopt;
    return SteadyTime(std::chrono::duration_cast<SteadyTime::duration>(std::chrono::nanoseconds(ns)));
}

void CorvaneCapture::updateConfig(const CaptureSettings& settings) {
    CaptureSettings next = settings;
    // Before a first start the size is not known; the rule then stands in 1920 x 1080.
    next.bitrateKbps = encoderBitrateKbps(
        settings, settings.targetWidth >= 1 ? settings.targetWidth : captureWidth_.load(),
        settings.targetHeight >= 1 ? settings.targetHeight : captureHeight_.load());
    bool changed;
    {
        std::lock_guard lock(settingsMutex_);
        changed = !(next == settings_);
        settings_ = next;
    }
    if (changed && isRunning_.load()) restart();
}

// ---------------------------------------------------------------------------------------------
// Recovery's view: each step runs on the lane and reports back on the main thread.

void CorvaneCapture::stopForRestart(std::function<void()> done) {
    postToLane([this, done = std::move(done)] {
        stopOnLane();
        // The next start decides: the footage continues when the picture stays the same.
        keepBufferOnNextStart_ = true;
        postToMain(done);
    });
}

void CorvaneCapture::startForRestart(std::function<void(const std::optional<CaptureError>&)> done) {
    ++startsInFlight_;
    postToLane([this, done = std::move(done)] {
        std::optional<CaptureError> error = startOnLane(StartReason::recovery);
        --startsInFlight_;
        postToMain([done, error] { done(error); });
    });
}

void CorvaneCapture::checkAccess(std::function<void(bool)> done) {
    if (access_.load() == Access::Granted) {
        done(true);
        return;
    }
    // Opening a display connection may block: never on the main thread.
    postToLane([this, done = std::move(done)] {
        const bool reachable = screenReachable();
        postToMain([done, reachable] { done(reachable); });
    });
}

bool CorvaneCapture::screenReachable() {
    if (access_.load() == Access::Granted) return true;
    const bool reachable = screen_.isAvailable();
    access_ = reachable ? Access::Granted : Access::Denied;
    return reachable;
}

// ---------------------------------------------------------------------------------------------
// Control lane: start and stop.

std::optional<CaptureError> CorvaneCapture::startOnLane(StartReason reason) {
    if (isRunning_.load()) return std::nullopt;
    std::optional<CaptureError> error = startStreamsOnLane(reason);
    // A start can also end in the user's no (a declined screen-sharing dialog): the remembered
    // yes then goes, so the watchdog stops restarting until the back end is available again.
    if (error && access_.load() == Access::Granted && !screen_.isAvailable()) access_ = Access::Denied;
    return error;
}

std::optional<CaptureError> CorvaneCapture::startStreamsOnLane(StartReason reason) {
    {
        std::lock_guard lock(streamMutex_);
        resizeDetector_.reset();
    }
    ++resizeGeneration_;

    if (!screenReachable()) {
        // Only a start someone asked for may bring a permission dialog back; a restart that did
        // would show it again on every attempt.
        if (reason == StartReason::asked) screen_.requestAccess();
        return CaptureError{"Corvane", 1,
                            "Screen capture is not available (" + screen_.unavailableReason() + ")."};
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

    const int32_t fps = effectiveFps(settings.fps);
    const EncoderSettings encoderSettings{target->width, target->height, fps,
                                          encoderBitrateKbps(settings, target->width, target->height),
                                          settings.codec};
    // A restart continues the replay (the buffer's age and length rules still drop footage that
    // is too old): the same picture continues the clip, a new one (size, frame rate, codec) starts
    // a run of its own that clips are cut at. A plain start begins an empty replay.
    if (!keepBufferOnNextStart_) ringBuffer_->clear();
    keepBufferOnNextStart_ = false;
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
        std::optional<CaptureError> audioError = openAudioOnLane(generation);
        if (audioError && !audioUnavailableReported_) {
            audioUnavailableReported_ = true;
            logLine("System audio unavailable (" + audioError->message +
                    "); recording video only.");
        }
    }
    const bool audioOpen = audioStream_ != nullptr;
    postToMain([this, audioOpen] { audioReconnect_.reset(audioOpen); });

    startTimeNs_ = std::chrono::duration_cast<std::chrono::nanoseconds>(
                       scheduler_.now().time_since_epoch())
                       .count();
    isRunning_ = true;
    logLine(screen_.streamLabel() + " stream started on " + describeTarget(*target) + " (" +
            std::to_string(target->width) + "x" + std::to_string(target->height) + " @ " +
            std::to_string(settings.fps) + "fps)");
    notifyState(true);
    return std::nullopt;
}

std::optional<CaptureError> CorvaneCapture::openAudioOnLane(uint64_t generation) {
    if (!audio_) return CaptureError{"PulseAudio", 0, "no audio back end"};
    auto lane = audioEncoders_ ? std::make_shared<AudioLane>(*audioEncoders_, *ringBuffer_) : nullptr;
    AudioStreamCallbacks callbacks;
    callbacks.onAudio = [this, generation, lane](const AudioBlock& block) {
        {
            std::lock_guard lock(streamMutex_);
            if (generation != activeGeneration_) return;
        }
        lastAudioNs_ = nowNs();
        if (lane) lane->push(block);
    };
    callbacks.onStopped = [this, generation](const std::string& text) {
        postToLane([this, generation, text] { handleAudioStopped(generation, text); });
    };
    auto audioStream = audio_->openSystemAudio(audioQueue_, std::move(callbacks));
    if (!audioStream) return audioStream.error();
    audioStream_ = audioStream.takeValue();
    lastAudioNs_ = nowNs();
    audioLane_ = std::move(lane);
    audioUnavailableReported_ = false;
    return std::nullopt;
}

// A reconnect attempt: only while the stream that lost its audio still runs. The new audio run
// starts where the blocks say; the outage between is silence by the audio lane's rules.
bool CorvaneCapture::reopenAudioOnLane() {
    uint64_t generation;
    {
        std::lock_guard lock(streamMutex_);
        generation = activeGeneration_;
    }
    if (!isRunning_.load() || generation == 0 || !settings().recordAudio) return false;
    if (audioStream_) return true;
    std::optional<CaptureError> error = openAudioOnLane(generation);
    if (error) {
        logLine("System audio reconnect failed (" + error->message + ")");
        return false;
    }
    systemAudioLost_ = false;
    logLine("System audio reconnected.");
    return true;
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
    systemAudioLost_ = false;
    postToMain([this] { audioReconnect_.reset(false); });
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
    endAudioLane();
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

// The audio already encoded goes into the buffer; blocks still queued find the stream gone.
void CorvaneCapture::endAudioLane() {
    lastAudioNs_ = 0;
    if (!audioLane_) return;
    if (!audioQueue_.isCurrent()) audioQueue_.waitIdle();
    audioLane_->endRun();
    audioLane_.reset();
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
    endAudioLane();
    logLine("System audio stopped (" + errorText + "); recording video only until it is back.");
    systemAudioLost_ = true;
    postToMain([this] { audioReconnect_.audioLost(); });
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
    const uint64_t resizeGeneration = resizeGeneration_.load();
    postToMain([this, resizeGeneration, width, height] {
        // A start or stop since the change makes it moot.
        recovery_.windowResized(width, height, [this, resizeGeneration] {
            return resizeGeneration == resizeGeneration_.load();
        });
    });
}

}  // namespace corvane
