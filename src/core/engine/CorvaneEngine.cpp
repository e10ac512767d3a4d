#include "core/engine/CorvaneEngine.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <condition_variable>
#include <limits>

#include "core/config/ConfigFile.h"
#include "core/config/ConfigReader.h"
#include "core/engine/SaveMessages.h"
#include "core/log/Log.h"
#include "core/shortcuts/NullHotkeyBackend.h"
#include "core/time/WholeSeconds.h"

namespace corvane {
namespace {

constexpr const char* kDefaultOutputDir = "~/Videos/Corvane";

std::string lowerCased(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

bool fitsInt32(int64_t value) {
    return value >= std::numeric_limits<int32_t>::min() &&
           value <= std::numeric_limits<int32_t>::max();
}

std::string wholeSecondsText(double seconds) { return std::to_string(truncatedClamped(seconds)); }

ClipSaveOutcome failed(std::string reason) { return ClipSaveOutcome{false, {}, 0, std::move(reason)}; }

}  // namespace

// One save from request to report. The save lane and the watchdog race to end it: whichever
// claims it first reports. A save given up on is reported by the watchdog; its lane, once the
// export finally returns, touches nothing of the engine (which may be gone by then).
struct CorvaneEngine::SaveJob {
    const std::shared_ptr<ExportProgress> progress = std::make_shared<ExportProgress>();
    std::function<void(const ClipSaveOutcome&)> done;

    // True for the first caller only; it must call endReport() when it has reported.
    bool claim() {
        std::lock_guard lock(mutex);
        if (state != State::Running) return false;
        state = State::Reporting;
        return true;
    }
    void endReport() {
        {
            std::lock_guard lock(mutex);
            state = State::Ended;
        }
        ended.notify_all();
    }
    void waitEnded() {
        std::unique_lock lock(mutex);
        ended.wait(lock, [this] { return state == State::Ended; });
    }

private:
    enum class State { Running, Reporting, Ended };
    std::mutex mutex;
    std::condition_variable ended;
    State state = State::Running;  // guarded by mutex
};

int32_t sanitizedFps(int64_t fps) {
    return fps >= 1 && fitsInt32(fps) ? int32_t(fps) : CorvaneEngine::kDefaultFps;
}

int32_t sanitizedBitrateKbps(int64_t bitrateKbps) {
    return fitsInt32(bitrateKbps) ? int32_t(bitrateKbps) : CorvaneEngine::kDefaultBitrateKbps;
}

CaptureSettings captureSizing(CaptureSettings settings, const std::string& resolution) {
    const std::string lower = lowerCased(resolution);
    if (settings.windowId != 0) {
        settings.targetWidth = 0;
        settings.targetHeight = 0;
        settings.windowScale = lower == "75%" ? 0.75f : lower == "50%" ? 0.5f : 1.0f;
    } else {
        const PixelSize target = targetDimensionsFor(resolution);
        settings.targetWidth = target.width;
        settings.targetHeight = target.height;
        settings.windowScale = 1.0f;
    }
    return settings;
}

CaptureSettings captureSettingsFrom(const AppConfig& config) {
    CaptureSettings settings;
    settings.fps = sanitizedFps(config.fps);
    settings.bitrateKbps = sanitizedBitrateKbps(config.bitrateKbps);
    settings.codec = config.codec;
    settings.recordAudio = config.recordAudio;
    settings.displayId = config.displayId;
    settings.windowId = config.windowId;
    return captureSizing(settings, config.resolution);
}

CorvaneEngine::CorvaneEngine(const AppConfig& config, EngineDependencies deps)
    : config_(config), deps_(std::move(deps)), saveWatchdog_(deps_.scheduler) {
    captureSettings_ = captureSettingsFrom(config);
    currentResolution_ = config.resolution;
    currentRecordAudio_ = config.recordAudio;
    currentPlaySound_ = config.playSound;

    ringBuffer_ = std::make_shared<CorvaneRingBuffer>(
        config.maxBufferSeconds, deps_.bufferClock ? *deps_.bufferClock : SystemClock::instance());
    capture_ = deps_.makeCapture(captureSettings_, ringBuffer_);
    std::unique_ptr<HotkeyBackend> hotkeyBackend =
        deps_.makeHotkeyBackend ? deps_.makeHotkeyBackend() : nullptr;
    if (!hotkeyBackend) hotkeyBackend = std::make_unique<NullHotkeyBackend>("no hotkey back end");
    hotkeys_ = std::make_unique<CorvaneHotkeys>(std::move(hotkeyBackend));
    ui_ = deps_.makeTray();

    outputDirString_ = config.outputDir.empty() ? kDefaultOutputDir : config.outputDir;
    configPathString_ = config.configPath.empty() ? AppConfig::configFilePath() : config.configPath;
    records_ = config.records.empty() ? defaultRecords() : config.records;

    ui_->setOutputDir(outputDirString_);
    ui_->setConfigPath(configPathString_);
    if (deps_.windowHost) {
        deps_.windowHost->setOutputDir(outputDirString_);
        deps_.windowHost->setConfigPath(configPathString_);
        deps_.windowHost->setOnSettingsChanged([this] { reloadConfigAndApply(); });
        deps_.windowHost->setRecordingStatusProvider([this] { return recordingStatus(); });
    }

    if (deps_.saveLane) {
        saveLane_ = deps_.saveLane;
    } else {
        ownedSaveWorker_ = std::make_unique<SaveWorker>("com.corvane.save");
        saveLane_ = ownedSaveWorker_.get();
    }

    setupCallbacks();
    setupSleepWakeObservers();
}

CorvaneEngine::~CorvaneEngine() {
    stop();
    waitForSaveBeforeQuit();
    alive_.reset();  // deferred main-thread work of this engine now does nothing
    saveWatchdog_.stop();
    ownedSaveWorker_.reset();
    if (deps_.windowHost) {
        deps_.windowHost->setOnSettingsChanged(nullptr);
        deps_.windowHost->setRecordingStatusProvider(nullptr);
    }
    hotkeys_->onHotKeyTriggered = nullptr;
    ui_->setCallbacks({});
}

void CorvaneEngine::setupCallbacks() {
    hotkeys_->onHotKeyTriggered = [this](int32_t id) {
        auto it = recordDurationsById_.find(id);
        if (it == recordDurationsById_.end()) {
            logLine("Hotkey triggered for unknown action ID: " + std::to_string(id));
            return;
        }
        logLine("Hotkey triggered for " + wholeSecondsText(it->second) + "s clip");
        requestClip(it->second);
    };

    TrayCallbacks callbacks;
    callbacks.onClipRequested = [this](double seconds) {
        logLine("Menu action triggered for " + wholeSecondsText(seconds) + "s clip");
        requestClip(seconds);
    };
    callbacks.getStatusHandler = [this] { return getStatus(); };
    callbacks.onQuitRequested = [this] {
        // Copied first: terminating may lead to this engine's destruction.
        auto terminate = deps_.terminateApplication;
        stop();
        if (terminate) terminate();
    };
    ui_->setCallbacks(std::move(callbacks));

    // On the main thread, once per long outage and once when audio is back after it.
    capture_->setOnSystemAudioNotice([this](bool lost) {
        if (lost) {
            deps_.notifier.showNotification("System audio lost",
                                            "Recording video only until the audio server is back.");
        } else {
            deps_.notifier.showNotification("System audio is back", "Clips have sound again.");
        }
        ui_->updateUI();
    });

    // Arrives on the capture's lane.
    capture_->setOnStateChanged([this](bool) {
        postToMain([this] {
            ui_->updateUI();
            if (deps_.windowHost) deps_.windowHost->updateWindowTitle();
        });
    });
}

void CorvaneEngine::setupSleepWakeObservers() {
    if (!deps_.systemEvents) return;
    SystemEventHandlers handlers;
    handlers.onSleep = [this] {
        pause(PauseKind::SystemSleep, "System sleep notification received. Pausing capture...");
    };
    handlers.onWake = [this] {
        resume("System wake notification received. Restarting capture in 1.5s...");
    };
    handlers.onScreensSleep = [this] {
        pause(PauseKind::ScreensSleep, "Screen sleep notification received. Pausing capture...");
    };
    handlers.onScreensWake = [this] {
        resume("Screen wake notification received. Restarting capture in 1.5s...");
    };
    handlers.onDisplayConfigurationChanged = [this] { reconfigure(); };
    deps_.systemEvents->start(std::move(handlers));
}

int32_t CorvaneEngine::start() {
    mainThread_.assertOnOwnerThread("CorvaneEngine::start");
    started_ = true;
    registerAllHotkeys();
    if (config_.showMenubar) ui_->setupMenubar(records_);
    postToMain([this] {
        if (stopped_) return;
        if (deps_.windowHost) deps_.windowHost->setupMainMenuIfNeeded();
        statusTimer_.startRepeating(deps_.scheduler, kStatusInterval, [this] { statusTick(); });
    });
    capture_->start([](const std::optional<CaptureError>& error) {
        if (error) logLine("Initial capture start notice: " + error->message);
    });
    return 0;
}

void CorvaneEngine::stop() {
    mainThread_.assertOnOwnerThread("CorvaneEngine::stop");
    if (stopped_) return;
    stopped_ = true;
    if (deps_.abandonPendingStarts) deps_.abandonPendingStarts();
    statusTimer_.cancel();
    wakeRestart_.cancel();
    displayRestart_.cancel();
    hotkeys_->unregisterAll();
    if (deps_.systemEvents) deps_.systemEvents->stop();
    // A capture that hangs on its stop does not hold up quitting.
    capture_->stopAndWait(kStopTimeout);
}

void CorvaneEngine::statusTick() {
    ui_->updateUI();
    if (++healthCheckCounter_ >= kWatchdogEveryTicks) {
        healthCheckCounter_ = 0;
        if (!plannedRestartPending()) capture_->checkHealth(isSystemSleeping_);
    }
}

void CorvaneEngine::registerAllHotkeys() {
    recordDurationsById_.clear();
    std::vector<HotkeyRequest> requests;
    int32_t id = 1;
    for (const RecordItem& record : records_) {
        recordDurationsById_[id] = double(record.durationSeconds);
        if (!record.hotkey.empty()) {
            requests.push_back({id, record.hotkey, "Save last " + record.readableTitle()});
        }
        ++id;
    }
    hotkeys_->registerHotKeys(requests);
}

void CorvaneEngine::pause(PauseKind kind, const char* message) {
    logLine(message);
    isSystemSleeping_ = true;
    ringBuffer_->clear();
    // A wake restart still pending would start capture in the middle of this sleep.
    wakeRestart_.cancel();
    wakeRestartPending_ = false;
    if (kind == PauseKind::SystemSleep) sleepPreparing_ = true;
    ++pauseStopsPending_;
    capture_->stop([this] {
        postToMain([this] {
            --pauseStopsPending_;
            finishSleepPreparationIfReady();
        });
    });
}

void CorvaneEngine::resume(const char* message) {
    logLine(message);
    isSystemSleeping_ = false;
    sleepPreparing_ = false;
    ringBuffer_->clear();
    wakeRestartPending_ = true;
    wakeRestart_.startOnce(deps_.scheduler, kWakeRestartDelay, [this] {
        wakeRestartPending_ = false;
        capture_->restart();
    });
}

void CorvaneEngine::reconfigure() {
    logLine("Screen parameters changed (resolution or display setup). Reconfiguring in 1.0s...");
    // Several changes in a row give one restart, a second after the last.
    displayRestartPending_ = true;
    displayRestart_.startOnce(deps_.scheduler, kDisplayChangeRestartDelay, [this] {
        displayRestartPending_ = false;
        // Screens that switch off often change the layout; the wake restarts capture.
        if (isSystemSleeping_) return;
        capture_->restart();
    });
}

void CorvaneEngine::finishSleepPreparationIfReady() {
    if (!sleepPreparing_ || pauseStopsPending_ > 0 || isSavingClip()) return;
    sleepPreparing_ = false;
    if (deps_.systemEvents) deps_.systemEvents->sleepPreparationDone();
}

CorvaneStatus CorvaneEngine::getStatus() {
    const RingBufferStatus buffer = ringBuffer_->getStatus();
    CorvaneStatus status;
    status.bufferDurationSeconds = buffer.duration;
    status.memoryUsageBytes = buffer.memoryBytes;
    status.videoFramesCount = buffer.videoCount;
    status.audioSamplesCount = buffer.audioCount;
    status.hasPermission = capture_->hasPermission();
    status.isRecording = capture_->isRunning();
    status.captureWidth = capture_->captureWidth();
    status.captureHeight = capture_->captureHeight();
    status.systemAudioLost = capture_->isSystemAudioLost();
    return status;
}

RecordingPair CorvaneEngine::recordingStatus() const {
    RecordingPair pair;
    pair.isRecording = capture_->isRunning();
    const std::optional<SteadyTime> startedAt = capture_->recordingStartTime();
    if (pair.isRecording && startedAt) {
        pair.duration = std::max(0.0, toSeconds(deps_.scheduler.now() - *startedAt));
    }
    return pair;
}

std::string CorvaneEngine::outputDir() const {
    std::lock_guard lock(fieldsMutex_);
    return outputDirString_;
}

bool CorvaneEngine::isSavingClip() const {
    std::lock_guard lock(saveLock_);
    return isSavingClipInProgress_;
}

// ---- Clip saving ----

std::shared_ptr<CorvaneEngine::SaveJob> CorvaneEngine::tryBeginSave(
    std::function<void(const ClipSaveOutcome&)> done) {
    {
        std::lock_guard lock(saveLock_);
        if (!isSavingClipInProgress_) {
            isSavingClipInProgress_ = true;
            runningSave_ = std::make_shared<SaveJob>();
            runningSave_->done = std::move(done);
            return runningSave_;
        }
    }
    logLine("Clip export already in progress, ignoring duplicate trigger");
    return nullptr;
}

void CorvaneEngine::requestClip(double seconds, std::function<void(const ClipSaveOutcome&)> done) {
    mainThread_.assertOnOwnerThread("CorvaneEngine::requestClip");
    if (!isAcceptableClipLength(seconds)) {
        if (done) done(failed(std::string(kClipTooShort) + "."));
        return;
    }
    // The guard is taken here, not on the lane: the lane is serial, so a second request queued
    // behind a running save would otherwise be saved afterwards instead of being dropped.
    std::shared_ptr<SaveJob> job = tryBeginSave(done);
    if (!job) {
        if (done) done(failed("A clip is already being saved."));
        return;
    }
    const bool posted = saveLane_->post([this, job, seconds] { runSave(job, seconds); });
    if (!posted && job->claim()) {
        endSave();
        if (done) done(failed("The recorder is shutting down."));
        job->endReport();
    }
}

ClipSaveOutcome CorvaneEngine::saveClip(double durationSeconds) {
    std::shared_ptr<SaveJob> job = tryBeginSave(nullptr);
    if (!job) return failed("A clip is already being saved.");
    return runSave(job, durationSeconds);
}

ClipSaveOutcome CorvaneEngine::runSave(const std::shared_ptr<SaveJob>& job, double durationSeconds) {
    postToMain([this, job] {
        ui_->setSavingClip(true);
        ui_->updateUI();
        saveWatchdog_.watch(job->progress, [this, job](SaveWatchdog::Overrun overrun) { giveUpSave(job, overrun); });
    });
    const std::string folder = outputDir();
    const std::shared_ptr<CorvaneRingBuffer> buffer = ringBuffer_;  // alive for a save given up on
    const ClipExportResult result = deps_.exporter.exportClip(*buffer, durationSeconds, folder,
                                                              currentRecordAudio_.load(), *job->progress);
    // Given up while it hung: already reported, and the engine may be gone. Touch nothing.
    if (!job->claim()) return failed("The save took too long and was given up.");

    ClipSaveOutcome outcome;
    if (!result.ok()) {
        outcome.reason = clipNotSavedBody(result);
        deps_.notifier.showNotification(kClipNotSavedTitle, outcome.reason);
    } else {
        outcome.ok = true;
        outcome.path = result.path;
        outcome.actualSeconds = result.actualSeconds;
        outcome.shortfall = shortfallNote(durationSeconds, result.actualSeconds);
        outcome.earlierPaths = result.earlierPaths;
        outcome.note = clipSaveNote(result, outcome.shortfall);
        if (SoundPlayer* chime = deps_.savedChime; chime && currentPlaySound_.load())
            postToMain([chime] { chime->playSavedChime(); });
        deps_.notifier.showClipSaved(clipSavedTitle(result.actualSeconds),
                                     clipSavedBody(result, folder, outcome.shortfall), result.path);
        postToMain([this, path = result.path] {
            if (deps_.clipSavedAnnouncer) deps_.clipSavedAnnouncer->announce(path);
        });
        if (onClipSavedCallback) onClipSavedCallback(result.path);
    }
    endSave();
    if (job->done) job->done(outcome);
    job->endReport();
    return outcome;
}

void CorvaneEngine::giveUpSave(const std::shared_ptr<SaveJob>& job, SaveWatchdog::Overrun overrun) {
    if (!job->claim()) return;  // it is reporting its own end right now
    job->progress->abandoned = true;  // the export removes its temporary file when it returns
    const ExportProgress& p = *job->progress;
    std::string reason;
    if (overrun == SaveWatchdog::Overrun::Stalled) {
        logLine("Timeout: Neither video nor audio input became ready for 3s (vIdx=" +
                std::to_string(p.videoWritten.load()) + "/" + std::to_string(p.videoTotal.load()) +
                ", aIdx=" + std::to_string(p.audioWritten.load()) + "/" + std::to_string(p.audioTotal.load()) + ")");
        reason = "Writing stopped making progress";
    } else {
        logLine("Timeout while finalizing MP4 file");
        reason = "Finishing the file took too long";
    }
    if (const int written = p.filesWritten.load(); written > 0) {
        reason += " (" + std::to_string(written) + " of its " + std::to_string(p.filesTotal.load()) +
                  " files " + (written == 1 ? "was" : "were") + " saved)";
    }
    ClipExportResult result;
    result.failure = ClipExportResult::Failure::CouldNotWrite;
    result.reason = reason;
    const ClipSaveOutcome outcome = failed(clipNotSavedBody(result));
    deps_.notifier.showNotification(kClipNotSavedTitle, outcome.reason);
    // The stuck write keeps its thread; the next save gets a new one.
    if (ownedSaveWorker_) ownedSaveWorker_->abandonRunning();
    endSave();
    if (job->done) job->done(outcome);
    job->endReport();
}

void CorvaneEngine::endSave() {
    std::shared_ptr<const ExportProgress> progress;
    {
        std::lock_guard lock(saveLock_);
        isSavingClipInProgress_ = false;
        if (runningSave_) progress = runningSave_->progress;
        runningSave_.reset();
    }
    postToMain([this, progress] {
        saveWatchdog_.stop(progress.get());
        ui_->setSavingClip(false);
        ui_->updateUI();
        finishSleepPreparationIfReady();
    });
}

void CorvaneEngine::waitForSaveBeforeQuit() {
    // Injected lanes belong to tests, which run them before destroying the engine.
    if (!ownedSaveWorker_ || ownedSaveWorker_->waitIdle(kQuitSaveWait)) return;
    std::shared_ptr<SaveJob> job;
    {
        std::lock_guard lock(saveLock_);
        job = runningSave_;
    }
    if (!job) return;
    if (job->claim()) {
        job->progress->abandoned = true;
        logLine("Quitting while a clip is still being written: the clip is given up.");
        job->endReport();
    } else {
        job->waitEnded();  // it is reporting right now: a moment
    }
}

void CorvaneEngine::postToMain(std::function<void()> task) {
    deps_.scheduler.post([alive = weakAlive_, task = std::move(task)] {
        if (alive.expired()) return;
        task();
    });
}

// ---- Live reconfiguration ----

ConfigReloadOutcome CorvaneEngine::reloadConfigAndApply() {
    mainThread_.assertOnOwnerThread("CorvaneEngine::reloadConfigAndApply");
    const std::vector<RecordItem> previous = records_;
    ConfigReloadOutcome outcome = reloadConfigFromFile();
    if (!outcome.applied) return outcome;
    if (records_ != previous) {
        registerAllHotkeys();
        ui_->updateRecords(records_);
        int64_t longest = 0;
        for (const RecordItem& r : records_) longest = std::max(longest, r.durationSeconds);
        const double need = double(longest) + kBufferHeadroomSeconds;
        const double configured = config_.maxBufferSeconds;
        ringBuffer_->updateMaxDuration(std::isfinite(configured) ? std::max(configured, need) : need);
        logLine("Shortcuts and buffer updated live.");
    }
    capture_->updateConfig(captureSettingsForReload());
    return outcome;
}

ConfigReloadOutcome CorvaneEngine::reloadConfigFromFile() {
    const std::string path = expandTilde(configPathString_);
    const FileReadResult file = readUtf8File(path);
    std::string problem;
    if (file.status == FileReadResult::Status::Missing) {
        problem = "the file does not exist";
    } else if (!file.ok()) {
        problem = file.reason;
    } else if (std::all_of(file.text.begin(), file.text.end(),
                           [](unsigned char c) { return std::isspace(c); })) {
        // Usually a write cut short (a full disk, an editor killed while saving): applying it
        // would mean applying nothing while reporting success.
        problem = "the file is empty";
    }
    if (!problem.empty()) {
        logLine("Could not reload the configuration file " + path + " (" + problem +
                "); the current settings stay.");
        return {false, "Could not read " + path + ": " + problem};
    }
    const ConfigReadResult read = ConfigReader::read(file.text, ConfigReadMode::EngineReload);
    if (read.outputDir) {
        // An empty folder would put clips in the working directory; the default takes its place,
        // as at start.
        setOutputDirEverywhere(read.outputDir->empty() ? kDefaultOutputDir : *read.outputDir);
    }
    // A frame rate below 1 would divide by zero further down; such values are ignored.
    CaptureSettings& next = captureSettings_;
    if (read.fps && *read.fps >= 1 && fitsInt32(*read.fps)) next.fps = int32_t(*read.fps);
    // The running pipeline always uses the rate derived from size and frame rate (see
    // captureSettingsForReload), so bitrate_kbps is not taken over here.
    if (read.codec) next.codec = *read.codec;
    if (read.resolution) currentResolution_ = *read.resolution;
    if (read.recordAudio) next.recordAudio = *read.recordAudio;
    if (read.displayId) next.displayId = *read.displayId;
    if (read.windowId) next.windowId = *read.windowId;
    next = captureSizing(next, currentResolution_);
    currentRecordAudio_ = next.recordAudio;
    if (read.playSound) currentPlaySound_ = *read.playSound;
    if (!read.records.empty()) records_ = read.records;
    return {true, {}};
}

CaptureSettings CorvaneEngine::captureSettingsForReload() const {
    CaptureSettings next = captureSettings_;
    const CaptureSettings held = capture_->settings();
    CaptureSettings sameRate = next;
    sameRate.bitrateKbps = held.bitrateKbps;
    // Nothing about capture changed: keep the rate it runs at. Deriving it afresh would restart
    // capture (and empty the buffer) for a new shortcut or play_sound alone. Otherwise 0 asks
    // the capture for the rate the encoder gets at the new size (encoderBitrateKbps).
    next.bitrateKbps = sameRate == held ? held.bitrateKbps : 0;
    return next;
}

void CorvaneEngine::setOutputDirEverywhere(const std::string& outputDir) {
    {
        std::lock_guard lock(fieldsMutex_);
        outputDirString_ = outputDir;
    }
    ui_->setOutputDir(outputDir);
    if (deps_.windowHost) deps_.windowHost->setOutputDir(outputDir);
}

}  // namespace corvane
