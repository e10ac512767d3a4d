#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/sched/ThreadChecker.h"
#include "core/capture/CaptureBackend.h"
#include "core/config/AppConfig.h"
#include "core/sched/Scheduler.h"
#include "core/settings/CaptureSources.h"
#include "core/settings/DesktopSettingsTraits.h"

namespace corvane {

// The rules behind the settings tab: an editable copy of the settings, the capturable displays
// and windows, and a debounced auto-save of the settings form followed by the change callback
// (which the app routes to the engine's live reconfiguration).
//
// Main thread only (the Scheduler's thread). Setters named like the fields are the user's edits
// and carry the side effects (bitrate, target parsing, auto-save); filling a view from the
// getters never changes anything. Observers are told after every change of a visible value.
//
// Beyond the plain rules it protects the user's file: nothing is saved while the last load
// failed, a failed save is reported and not applied, an unstorable clips folder is never
// written, and a pending save is flushed before a load or at quit instead of being lost.
class SettingsViewModel {
public:
    static constexpr Duration kAutoSaveDelay = std::chrono::milliseconds(350);

    // `sources` lists displays and windows (may be null: lists stay empty). Listing makes X round
    // trips, so it runs on `listWorker` and the result comes back through the scheduler; the
    // first listing is asked for at once. `sources` must outlive the model and the worker's
    // tasks; the worker must outlive the model or drop tasks once stopped. `desktop` says how
    // this desktop picks the capture target and binds keys; where its dialog picks the target,
    // nothing is listed (listing would start a screen-sharing session) and display_id /
    // window_id stay as the file has them.
    SettingsViewModel(Scheduler& scheduler, ScreenCaptureBackend* sources, Executor& listWorker,
                      DesktopSettingsTraits desktop = {});
    ~SettingsViewModel();
    SettingsViewModel(const SettingsViewModel&) = delete;
    SettingsViewModel& operator=(const SettingsViewModel&) = delete;

    // ---- Values (what the view shows) ----
    int64_t fps() const { return fps_; }
    const std::string& resolution() const { return resolution_; }
    int64_t bitrateKbps() const { return bitrateKbps_; }
    double maxBufferSeconds() const { return maxBufferSeconds_; }
    const std::string& outputDir() const { return outputDir_; }
    bool recordAudio() const { return recordAudio_; }
    bool playSound() const { return playSound_; }
    bool showMenubar() const { return showMenubar_; }
    uint32_t displayId() const { return displayId_; }
    uint32_t windowId() const { return windowId_; }
    const std::string& captureTarget() const { return captureTarget_; }
    const std::vector<DisplayItem>& availableDisplays() const { return availableDisplays_; }
    const std::vector<WindowItem>& availableWindows() const { return availableWindows_; }
    const std::vector<RecordItem>& records() const { return records_; }

    // ---- Edits (each schedules the auto-save) ----
    void setFps(int64_t fps);
    void setResolution(const std::string& resolution);
    void setCaptureTarget(const std::string& target);
    void setOutputDir(const std::string& folder);
    void setRecordAudio(bool on);
    void setPlaySound(bool on);
    void setShowMenubar(bool on);
    void setRecords(std::vector<RecordItem> records);
    // One profile's duration (clamped to 5...600) or shortcut; unknown ids are ignored.
    void setRecordDuration(const std::string& id, int64_t seconds);
    void setRecordHotkey(const std::string& id, const std::string& hotkey);
    void addRecord();
    void removeRecord(const std::string& id);
    // Runs `chooseFolder` and stores its answer with a leading home folder written as "~".
    void browseFolder();

    // ---- File ----
    // Where load() reads and save() writes; "~" is expanded.
    void setConfigPath(std::string path) { configPath_ = std::move(path); }
    const std::string& configPath() const { return configPath_; }
    // Called after each successful auto-save (not after a failed one).
    void setOnSettingsChanged(std::function<void()> callback) { onSettingsChanged_ = std::move(callback); }
    // Modal folder chooser: an absolute path, or nullopt when cancelled.
    void setFolderChooser(std::function<std::optional<std::string>()> chooser) {
        chooseFolder_ = std::move(chooser);
    }
    // The home folder that browseFolder() abbreviates (default: the user's).
    void setHomeDirectory(std::string home) { home_ = std::move(home); }
    // Told the clips folder after a save that stored a new one (the clip library follows it).
    void setOnOutputDirSaved(std::function<void(const std::string&)> callback) {
        onOutputDirSaved_ = std::move(callback);
    }

    // Reads the file into the fields. A pending auto-save is written first. A missing file keeps
    // the values (saving creates it); an unreadable one keeps them too, sets loadError() and
    // stops auto-saving until a later load succeeds, so the user's file is never overwritten
    // with values it did not give.
    void load();
    // Writes the settings form now; returns whether the file was written.
    bool save();
    void scheduleAutoSaveAndApply();
    // Writes a pending auto-save at once (before quitting or re-reading); `applyAfter` decides
    // whether the change callback follows. Nothing happens when no save is pending.
    enum class ApplyAfterFlush { no, yes };
    void flushPendingSave(ApplyAfterFlush applyAfter);
    bool hasPendingSave() const { return autoSaveTask_.isScheduled(); }

    // Texts for the tab's error line; empty when all is well.
    const std::string& loadError() const { return loadError_; }
    const std::string& saveError() const { return saveError_; }
    // Why the typed clips folder will not be stored, or empty.
    std::string outputDirProblem() const;

    // ---- Capture target ----
    void parseCaptureTarget();
    void syncCaptureTarget();
    // Asks for fresh lists; never saves. They arrive later on the main thread, and observers are
    // told when they changed. Displays keep their list when listing fails; windows keep theirs
    // when capture is unavailable, or print why when listing fails. One listing runs at a time;
    // asking again meanwhile lists once more after it.
    void refreshCaptureSources();
    bool isListingSources() const { return listing_; }
    // The outputs or modes changed / another application became active.
    void handleDisplayConfigurationChanged();
    void handleActiveApplicationChanged();

    void updateDynamicBitrate();
    PixelSize currentDimensions() const;
    std::string estimatedSize30sDescription() const;
    std::string windowResolutionLabel(double scale) const;
    std::string nativeResolutionLabel() const;
    const WindowItem* selectedWindowItem() const;
    bool isCurrentTargetMissing() const;
    std::string missingTargetLabel() const;
    CaptureTargetKind captureTargetKind() const { return desktop_.captureTarget; }
    // What the tab shows instead of the lists where the system dialog picks the target.
    static constexpr const char* kSystemDialogTarget = "The screen or window chosen in the system dialog";
    // Where the system dialog picks the target: forget that choice and ask again (capture
    // restarts). Nothing elsewhere.
    void chooseCaptureAgain();
    // The resolution picker offers window scales (a listed window is the target), not presets.
    bool offersWindowScales() const;
    // Where keys are bound in the desktop's settings: one sentence on how, with the first
    // profile's seconds; empty where the program binds them itself.
    std::string shortcutsHint() const;
    // Normalised shortcut texts used by more than one profile.
    std::set<std::string> duplicateHotkeyErrors() const;

    // ---- Observers ----
    using ObserverId = int;
    ObserverId addObserver(std::function<void()> observer);
    void removeObserver(ObserverId id);

private:
    ThreadChecker mainThread_;  // the constructing (main) thread
    friend class PublishBatch;
    struct SourceListing;
    struct Alive;
    void applySourceListing(const SourceListing& listing);
    void publish();
    void afterEdit();
    std::optional<PixelSize> displayModeSize(uint32_t displayId) const;
    void runAutoSave(bool apply);

    Scheduler& scheduler_;
    ScreenCaptureBackend* sources_;
    DesktopSettingsTraits desktop_;
    Executor& listWorker_;
    bool listing_ = false;       // a listing is on the worker
    bool listAgain_ = false;     // asked for while it was
    std::shared_ptr<Alive> alive_;  // lets a listing's result find out the model is gone

    int64_t fps_ = 48;
    std::string resolution_ = "native";
    int64_t bitrateKbps_ = 12000;
    double maxBufferSeconds_ = 130.0;
    std::string outputDir_ = "~/Videos/Corvane";
    bool recordAudio_ = true;
    bool playSound_ = true;
    bool showMenubar_ = true;
    uint32_t displayId_ = 0;
    uint32_t windowId_ = 0;
    std::string captureTarget_ = "display:0";
    std::vector<DisplayItem> availableDisplays_;
    std::vector<WindowItem> availableWindows_;
    std::vector<RecordItem> records_ = defaultRecords();
    std::string configPath_;
    std::function<void()> onSettingsChanged_;
    std::function<std::optional<std::string>()> chooseFolder_;
    std::function<void(const std::string&)> onOutputDirSaved_;
    std::string home_;
    bool isLoading_ = false;
    ScheduledTask autoSaveTask_;

    std::string loadError_;
    std::string saveError_;
    // The clips folder the file holds; written instead of a typed one that cannot be stored.
    std::string storedOutputDir_ = "~/Videos/Corvane";

    int publishHold_ = 0;
    bool publishPending_ = false;
    ObserverId nextObserverId_ = 1;
    std::map<ObserverId, std::function<void()>> observers_;
};

}  // namespace corvane
