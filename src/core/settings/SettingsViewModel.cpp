#include "core/settings/SettingsViewModel.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "core/capture/CaptureSettings.h"
#include "core/config/ConfigFile.h"
#include "core/config/ConfigReader.h"
#include "core/log/Log.h"
#include "core/settings/SettingsRules.h"

namespace corvane {

namespace {

constexpr char kTimes[] = "\xC3\x97";  // ×

int32_t saturated32(int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

std::string lowered(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

double windowScaleOf(const std::string& resolution) {
    const std::string r = lowered(resolution);
    if (r == "75%") return 0.75;
    if (r == "50%") return 0.5;
    return 1.0;
}

}  // namespace

// Holds observer notifications back while several fields change together, then sends one.
class PublishBatch {
public:
    explicit PublishBatch(SettingsViewModel& model) : model_(model) { ++model_.publishHold_; }
    ~PublishBatch() {
        if (--model_.publishHold_ == 0 && model_.publishPending_) model_.publish();
    }
    PublishBatch(const PublishBatch&) = delete;
    PublishBatch& operator=(const PublishBatch&) = delete;

private:
    SettingsViewModel& model_;
};

struct SettingsViewModel::Alive {
    SettingsViewModel* model;  // main thread only; null once the model is destroyed
};

// What one listing on the worker found.
struct SettingsViewModel::SourceListing {
    bool available = false;
    CaptureResult<ShareableContent> content;
};

SettingsViewModel::SettingsViewModel(Scheduler& scheduler, ScreenCaptureBackend* sources, Executor& listWorker,
                                     DesktopSettingsTraits desktop)
    : scheduler_(scheduler), sources_(sources), desktop_(std::move(desktop)), listWorker_(listWorker),
      alive_(std::make_shared<Alive>(Alive{this})) {
    refreshCaptureSources();
}

SettingsViewModel::~SettingsViewModel() {
    alive_->model = nullptr;
    // The engine may already be gone: write the file, but do not ask anyone to apply it.
    flushPendingSave(ApplyAfterFlush::no);
}

// ---- Edits ----

void SettingsViewModel::setFps(int64_t fps) {
    fps_ = fps;
    updateDynamicBitrate();
    afterEdit();
}

void SettingsViewModel::setResolution(const std::string& resolution) {
    resolution_ = resolution;
    updateDynamicBitrate();
    afterEdit();
}

void SettingsViewModel::setCaptureTarget(const std::string& target) {
    captureTarget_ = target;
    if (!isLoading_) {
        parseCaptureTarget();
        updateDynamicBitrate();
        scheduleAutoSaveAndApply();
    }
    publish();
}

void SettingsViewModel::setOutputDir(const std::string& folder) {
    outputDir_ = folder;
    // A folder that cannot be stored is only shown (and marked); saving it would write the
    // previous one again and restart capture for nothing.
    if (!clipsFolderProblem(outputDir_)) scheduleAutoSaveAndApply();
    publish();
}

void SettingsViewModel::setRecordAudio(bool on) {
    recordAudio_ = on;
    afterEdit();
}

void SettingsViewModel::setPlaySound(bool on) {
    playSound_ = on;
    afterEdit();
}

void SettingsViewModel::setShowMenubar(bool on) {
    showMenubar_ = on;
    afterEdit();
}

void SettingsViewModel::setRecords(std::vector<RecordItem> records) {
    records_ = std::move(records);
    afterEdit();
}

void SettingsViewModel::setRecordDuration(const std::string& id, int64_t seconds) {
    auto copy = records_;
    auto it = std::find_if(copy.begin(), copy.end(), [&](const RecordItem& r) { return r.id == id; });
    if (it == copy.end()) return;
    it->durationSeconds = clampRecordDuration(seconds);
    setRecords(std::move(copy));
}

void SettingsViewModel::setRecordHotkey(const std::string& id, const std::string& hotkey) {
    auto copy = records_;
    auto it = std::find_if(copy.begin(), copy.end(), [&](const RecordItem& r) { return r.id == id; });
    if (it == copy.end()) return;
    it->hotkey = hotkey;
    setRecords(std::move(copy));
}

void SettingsViewModel::addRecord() {
    const size_t n = records_.size();
    const std::string hotkey = n <= 8 ? "Super+Shift+" + std::to_string(n + 1) : "Ctrl+Shift+R";
    const int64_t last = n == 0 ? 0 : records_.back().durationSeconds;
    // Saturating: a hand-edited huge duration must not overflow on the way to the clamp.
    const int64_t duration = n == 0 ? 30 : (last > kMaxRecordSeconds ? last : last + 30);
    auto copy = records_;
    copy.emplace_back(duration, hotkey);
    setRecords(std::move(copy));
}

void SettingsViewModel::removeRecord(const std::string& id) {
    if (records_.size() < 2) return;
    auto copy = records_;
    std::erase_if(copy, [&](const RecordItem& r) { return r.id == id; });
    setRecords(std::move(copy));
}

void SettingsViewModel::browseFolder() {
    if (!chooseFolder_) return;
    const std::optional<std::string> chosen = chooseFolder_();
    if (!chosen) return;
    setOutputDir(abbreviateHome(*chosen, home_.empty() ? homeDirectory() : home_));
}

void SettingsViewModel::afterEdit() {
    scheduleAutoSaveAndApply();
    publish();
}

// ---- File ----

void SettingsViewModel::load() {
    mainThread_.assertOnOwnerThread("SettingsViewModel::load");
    flushPendingSave(ApplyAfterFlush::yes);
    PublishBatch batch(*this);
    isLoading_ = true;

    const std::string path = expandTilde(configPath_);
    const FileReadResult file = readUtf8File(path);
    if (!file.ok()) {
        isLoading_ = false;
        if (file.status == FileReadResult::Status::Unreadable) {
            loadError_ = "Could not read " + path + ": " + file.reason +
                         ". Changes are not saved until the file can be read.";
            logLine("Could not read settings from " + path + ": " + file.reason);
        } else {
            loadError_.clear();  // nothing there to protect: the next save creates it
        }
        publishPending_ = true;
        return;
    }

    const ConfigReadResult read = ConfigReader::read(file.text, ConfigReadMode::SettingsModel);
    if (read.fps) fps_ = *read.fps;
    if (read.bitrateKbps) bitrateKbps_ = *read.bitrateKbps;
    if (read.resolution) resolution_ = *read.resolution;
    if (read.maxBufferSeconds) maxBufferSeconds_ = *read.maxBufferSeconds;
    if (read.outputDir) outputDir_ = *read.outputDir;
    if (read.recordAudio) recordAudio_ = *read.recordAudio;
    if (read.playSound) playSound_ = *read.playSound;
    if (read.showMenubar) showMenubar_ = true;
    if (read.displayId) displayId_ = *read.displayId;
    if (read.windowId) windowId_ = *read.windowId;
    records_ = read.records.empty() ? legacyOrDefaultRecords(read) : read.records;
    storedOutputDir_ = outputDir_;
    loadError_.clear();
    saveError_.clear();

    syncCaptureTarget();
    updateDynamicBitrate();
    isLoading_ = false;
    refreshCaptureSources();
    publishPending_ = true;
}

bool SettingsViewModel::save() {
    PublishBatch batch(*this);
    publishPending_ = true;
    if (configPath_.empty()) {
        saveError_ = "Settings could not be saved: no configuration file is set.";
        logLine("Error saving settings: no configuration file is set");
        return false;
    }
    const std::string path = expandTilde(configPath_);
    AppConfig values;
    values.fps = fps_;
    values.bitrateKbps = bitrateKbps_;
    values.resolution = resolution_;
    values.maxBufferSeconds = maxBufferSeconds_;
    values.outputDir = clipsFolderProblem(outputDir_) ? storedOutputDir_ : outputDir_;
    values.recordAudio = recordAudio_;
    values.playSound = playSound_;
    values.showMenubar = true;
    values.displayId = displayId_;
    values.windowId = windowId_;
    values.records = records_;

    const FileWriteResult written = writeFileAtomically(path, settingsFormText(values));
    if (!written.ok) {
        saveError_ = "Settings could not be saved: " + written.error;
        logLine("Error saving settings: " + written.error);
        return false;
    }
    logLine("Settings auto-saved to " + path);
    saveError_.clear();
    const bool folderChanged = values.outputDir != storedOutputDir_;
    storedOutputDir_ = values.outputDir;
    if (folderChanged && onOutputDirSaved_) onOutputDirSaved_(storedOutputDir_);
    return true;
}

void SettingsViewModel::scheduleAutoSaveAndApply() {
    mainThread_.assertOnOwnerThread("SettingsViewModel::scheduleAutoSaveAndApply");
    if (isLoading_ || !loadError_.empty()) return;
    autoSaveTask_.startOnce(scheduler_, kAutoSaveDelay, [this] {
        autoSaveTask_.cancel();  // marks it done, so hasPendingSave() and flushes see no pending save
        runAutoSave(true);
    });
}

void SettingsViewModel::flushPendingSave(ApplyAfterFlush applyAfter) {
    if (!autoSaveTask_.isScheduled()) return;
    autoSaveTask_.cancel();
    runAutoSave(applyAfter == ApplyAfterFlush::yes);
}

void SettingsViewModel::runAutoSave(bool apply) {
    const bool saved = save();
    publish();
    // A failed save changed nothing on disk: reloading would only restart capture.
    if (saved && apply && onSettingsChanged_) onSettingsChanged_();
}

std::string SettingsViewModel::outputDirProblem() const {
    return clipsFolderProblem(outputDir_).value_or("");
}

// ---- Capture target ----

void SettingsViewModel::parseCaptureTarget() {
    const ParsedCaptureTarget parsed = parseCaptureTargetText(captureTarget_);
    switch (parsed.kind) {
    case ParsedCaptureTarget::Kind::window:
        windowId_ = parsed.id;
        if (resolution_ != "native" && resolution_ != "75%" && resolution_ != "50%") setResolution("native");
        break;
    case ParsedCaptureTarget::Kind::display:
        displayId_ = parsed.id;
        windowId_ = 0;
        if (resolution_ == "75%" || resolution_ == "50%") setResolution("native");
        break;
    case ParsedCaptureTarget::Kind::other:
        displayId_ = 0;
        windowId_ = 0;
        break;
    }
    publish();
}

void SettingsViewModel::syncCaptureTarget() {
    setCaptureTarget(windowId_ != 0 ? "window:" + std::to_string(windowId_)
                                    : "display:" + std::to_string(displayId_));
}

void SettingsViewModel::refreshCaptureSources() {
    if (!sources_ || desktop_.captureTarget == CaptureTargetKind::systemDialog) return;
    if (listing_) {
        listAgain_ = true;
        return;
    }
    listing_ = true;
    ScreenCaptureBackend* sources = sources_;
    Scheduler* scheduler = &scheduler_;
    std::weak_ptr<Alive> weak = alive_;
    const bool posted = listWorker_.post([sources, scheduler, weak] {
        auto listing = std::make_shared<SourceListing>(
            SourceListing{sources->isAvailable(), sources->shareableContent()});
        scheduler->post([weak, listing] {
            if (auto alive = weak.lock(); alive && alive->model) alive->model->applySourceListing(*listing);
        });
    });
    if (!posted) listing_ = false;  // the worker has stopped: the program is closing
}

void SettingsViewModel::applySourceListing(const SourceListing& listing) {
    listing_ = false;
    {
        PublishBatch batch(*this);
        if (listing.content) {
            std::vector<DisplayItem> displays = displayItemsFrom(listing.content.value());
            if (displays != availableDisplays_) {
                availableDisplays_ = std::move(displays);
                publishPending_ = true;
            }
        }
        if (listing.available && !listing.content) {
            logLine("Error refreshing available windows: " + listing.content.error().message);
        } else if (listing.available) {
            std::vector<WindowItem> windows = windowItemsFrom(listing.content.value());
            if (windows != availableWindows_) {
                availableWindows_ = std::move(windows);
                publishPending_ = true;
            }
        }
        // The display sizes may have changed the capture size the rate derives from.
        updateDynamicBitrate();
    }
    if (std::exchange(listAgain_, false)) refreshCaptureSources();
}

void SettingsViewModel::handleDisplayConfigurationChanged() { refreshCaptureSources(); }

void SettingsViewModel::handleActiveApplicationChanged() { refreshCaptureSources(); }

// ---- Derived values ----

void SettingsViewModel::updateDynamicBitrate() {
    const PixelSize size = currentDimensions();
    CaptureSettings automatic;
    automatic.fps = saturated32(fps_);
    automatic.bitrateKbps = 0;  // derived, as the settings form writes it and the encoder gets it
    const int64_t bitrate = encoderBitrateKbps(automatic, size.width, size.height);
    if (bitrate == bitrateKbps_) return;
    bitrateKbps_ = bitrate;
    publish();
}

std::optional<PixelSize> SettingsViewModel::displayModeSize(uint32_t displayId) const {
    const DisplayItem* found = nullptr;
    for (const DisplayItem& d : availableDisplays_) {
        if (displayId == 0 ? d.isMain : d.id == displayId) {
            found = &d;
            break;
        }
    }
    if (!found || found->pixelWidth < 1 || found->pixelHeight < 1) return std::nullopt;
    return PixelSize{found->pixelWidth, found->pixelHeight};
}

PixelSize SettingsViewModel::currentDimensions() const {
    if (const WindowItem* window = selectedWindowItem()) {
        const double scale = windowScaleOf(resolution_);
        return {scaledWindowSide(window->pixelWidth, scale), scaledWindowSide(window->pixelHeight, scale)};
    }
    const PixelSize preset = targetDimensionsFor(resolution_);
    if (preset.width > 0 && preset.height > 0) return preset;
    if (auto size = displayModeSize(displayId_)) return *size;
    if (auto size = displayModeSize(0)) return *size;
    return {1920, 1080};
}

std::string SettingsViewModel::estimatedSize30sDescription() const {
    // The rate the encoder is given (its rate control holds the average to it) plus the clip's
    // AAC track.
    const double audioKbps = recordAudio_ ? kClipAudioBitrateKbps : 0;
    const double bytesPerSecond = (static_cast<double>(bitrateKbps_) + audioKbps) * 1000.0 / 8.0;
    const auto whole = [](double v) {
        return std::isfinite(v) ? static_cast<int64_t>(std::clamp(v, 0.0, 9.0e18)) : int64_t{0};
    };
    return "~" + formatFileByteCount(whole(bytesPerSecond * 30)) + " / 30s (~" +
           formatFileByteCount(whole(bytesPerSecond * 60)) + " / min)";
}

std::string SettingsViewModel::windowResolutionLabel(double scale) const {
    std::string label;
    if (scale >= 0.99) {
        label = "100% - Native";
    } else if (std::fabs(scale - 0.75) <= 0.05) {
        label = "75% - Balanced";
    } else {
        label = "50% - Light";
    }
    if (const WindowItem* window = selectedWindowItem()) {
        label += " (" + std::to_string(scaledWindowSide(window->pixelWidth, scale)) + kTimes +
                 std::to_string(scaledWindowSide(window->pixelHeight, scale)) + ")";
    }
    return label;
}

std::string SettingsViewModel::nativeResolutionLabel() const {
    if (const WindowItem* window = selectedWindowItem()) {
        return "Window Native (" + std::to_string(window->pixelWidth) + "x" +
               std::to_string(window->pixelHeight) + ")";
    }
    std::optional<PixelSize> size = displayModeSize(displayId_);
    if (!size) size = displayModeSize(0);
    if (!size) return "Native Display";
    return "Native Display (" + std::to_string(size->width) + "x" + std::to_string(size->height) + ")";
}

const WindowItem* SettingsViewModel::selectedWindowItem() const {
    if (windowId_ == 0) return nullptr;
    for (const WindowItem& w : availableWindows_)
        if (w.id == windowId_) return &w;
    return nullptr;
}

void SettingsViewModel::chooseCaptureAgain() {
    if (desktop_.captureTarget == CaptureTargetKind::systemDialog && desktop_.chooseCaptureAgain) {
        logLine("Choosing the screen again in the system dialog.");
        desktop_.chooseCaptureAgain();
    }
}

bool SettingsViewModel::offersWindowScales() const {
    return desktop_.captureTarget == CaptureTargetKind::listedSources && windowId_ != 0;
}

std::string SettingsViewModel::shortcutsHint() const {
    if (!desktop_.keysBoundInDesktopSettings) return {};
    const int64_t seconds = records_.empty() ? 30 : records_.front().durationSeconds;
    return "This desktop lets no program bind keys: bind one to `corvane --save " + std::to_string(seconds) +
           "` in its keyboard settings.";
}

bool SettingsViewModel::isCurrentTargetMissing() const {
    if (desktop_.captureTarget == CaptureTargetKind::systemDialog) return false;  // nothing is listed
    if (captureTarget_.starts_with("window:")) {
        return windowId_ != 0 && std::none_of(availableWindows_.begin(), availableWindows_.end(),
                                              [&](const WindowItem& w) { return w.id == windowId_; });
    }
    if (captureTarget_.starts_with("display:")) {
        return displayId_ != 0 && std::none_of(availableDisplays_.begin(), availableDisplays_.end(),
                                               [&](const DisplayItem& d) { return d.id == displayId_; });
    }
    return false;
}

std::string SettingsViewModel::missingTargetLabel() const {
    if (captureTarget_.starts_with("window:")) return "Closed Window (" + std::to_string(windowId_) + ")";
    if (captureTarget_.starts_with("display:")) return "Disconnected Display (" + std::to_string(displayId_) + ")";
    return "Missing Target";
}

std::set<std::string> SettingsViewModel::duplicateHotkeyErrors() const {
    std::set<std::string> seen, duplicates;
    for (const RecordItem& r : records_) {
        const std::string key = normalizedHotkey(r.hotkey);
        if (key.empty()) continue;
        if (!seen.insert(key).second) duplicates.insert(key);
    }
    return duplicates;
}

// ---- Observers ----

SettingsViewModel::ObserverId SettingsViewModel::addObserver(std::function<void()> observer) {
    const ObserverId id = nextObserverId_++;
    observers_.emplace(id, std::move(observer));
    return id;
}

void SettingsViewModel::removeObserver(ObserverId id) { observers_.erase(id); }

void SettingsViewModel::publish() {
    if (publishHold_ > 0) {
        publishPending_ = true;
        return;
    }
    publishPending_ = false;
    // Copied: an observer may add or remove observers.
    const auto observers = observers_;
    for (const auto& [id, observer] : observers) {
        if (observer) observer();
    }
}

}  // namespace corvane
