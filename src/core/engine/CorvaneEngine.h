#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/sched/ThreadChecker.h"
#include "core/capture/CaptureControl.h"
#include "core/capture/CaptureSettings.h"
#include "core/config/AppConfig.h"
#include "core/export/ClipExporter.h"
#include "core/export/SaveWatchdog.h"
#include "core/export/SaveWorker.h"
#include "core/replay/CorvaneRingBuffer.h"
#include "core/sched/Scheduler.h"
#include "core/sched/SerialQueue.h"
#include "core/services/ClipSavedAnnouncer.h"
#include "core/services/MainWindowHost.h"
#include "core/services/Notifier.h"
#include "core/services/SoundPlayer.h"
#include "core/services/SystemEvents.h"
#include "core/services/TrayMenu.h"
#include "core/shortcuts/CorvaneHotkeys.h"
#include "core/shortcuts/HotkeyBackend.h"
#include "core/status/CorvaneStatus.h"

namespace corvane {

// What the engine is built from. The factories run once, during construction, in the order
// buffer, capture, hotkeys, tray; the engine owns what they return. Everything given by
// reference or pointer must outlive the engine.
struct EngineDependencies {
    Scheduler& scheduler;  // the main thread: every timer and delay of the engine runs here
    ClipExporter& exporter;
    Notifier& notifier;
    std::function<std::unique_ptr<CaptureControl>(const CaptureSettings&,
                                                  std::shared_ptr<CorvaneRingBuffer>)>
        makeCapture;
    std::function<std::unique_ptr<HotkeyBackend>()> makeHotkeyBackend;  // none: no shortcuts
    std::function<std::unique_ptr<TrayMenu>()> makeTray;
    SystemEvents* systemEvents = nullptr;        // none: no sleep, wake or display events
    MainWindowHost* windowHost = nullptr;        // none until the main window exists
    ClipSavedAnnouncer* clipSavedAnnouncer = nullptr;
    SoundPlayer* savedChime = nullptr;           // none: saves are silent
    std::function<void()> terminateApplication;  // ends the event loop (after stop())
    // Called first by stop(): ends waits that would hold up the capture's stop (a start waiting
    // on the desktop's screen-sharing dialog), so quitting is not held up by an open dialog.
    std::function<void()> abandonPendingStarts;
    // Where saves run. nullptr: a serial worker of the engine's own. Tests pass a manual one and
    // run it before destroying the engine.
    Executor* saveLane = nullptr;
    const Clock* bufferClock = nullptr;  // the replay buffer's clock; nullptr: the system clock
};

// How one clip request ended: the finished file, or why there is none.
struct ClipSaveOutcome {
    bool ok = false;
    std::string path;          // when ok
    double actualSeconds = 0;  // when ok
    std::string reason;        // when not ok, one sentence for the user
    // When ok but the buffer held less than asked: "Saved 53 s of the 601 s asked"; else empty.
    std::string shortfall;
    // When ok and the video format changed within the clip: the files before `path`, oldest first.
    std::vector<std::string> earlierPaths;
    // When ok: what a caller is told beside the path (the shortfall, the other files of a split
    // save and any that could not be written); empty for a whole clip in one file.
    std::string note;
};

// How a configuration reload ended: applied, or nothing applied and why (one sentence naming
// the file and the system's reason).
struct ConfigReloadOutcome {
    bool applied = false;
    std::string reason;
};

// The running recorder: owns the replay buffer, the capture, the hotkeys and the tray item,
// wires them together, saves clips, reports status and applies an edited configuration.
//
// Threads: constructed, started, stopped and destroyed on the main thread; every public
// operation except saveClip() belongs to the main thread, and every callback it installs runs
// there (capture callbacks hop to it through the scheduler). Saves run one at a time on the save
// lane. Fields read by a save while the main thread may change them (clips folder, play sound,
// record audio) are guarded by fieldsMutex_ or atomic.
class CorvaneEngine {
public:
    static constexpr Duration kStatusInterval = std::chrono::seconds(1);
    static constexpr int kWatchdogEveryTicks = 3;
    static constexpr Duration kWakeRestartDelay = std::chrono::milliseconds(1500);
    static constexpr Duration kDisplayChangeRestartDelay = std::chrono::milliseconds(1000);
    static constexpr Duration kStopTimeout = std::chrono::seconds(2);
    // How long quitting waits for a running save before leaving it to its worker thread.
    static constexpr Duration kQuitSaveWait = std::chrono::seconds(3);
    static constexpr int32_t kDefaultFps = 48;
    static constexpr int32_t kDefaultBitrateKbps = 12000;

    CorvaneEngine(const AppConfig& config, EngineDependencies deps);
    ~CorvaneEngine();
    CorvaneEngine(const CorvaneEngine&) = delete;
    CorvaneEngine& operator=(const CorvaneEngine&) = delete;

    // Registers the hotkeys, builds the tray item (when wanted), starts the status timer and the
    // first capture start in the background. Returns 0.
    int32_t start();
    // Stops the timer, the hotkeys and the system events, and the capture, waiting for it at
    // most 2.0 s. Idempotent. A save in progress is left to finish.
    void stop();

    // Asks for the last `seconds` as a clip: refuses a length under one second (kClipTooShort)
    // and drops the request when a save is running (with the log line), otherwise runs the save
    // on the save lane. `done`, when given, runs once: on the save lane, at once for a refused or
    // dropped request, or on the main thread for a save that overran its time (no progress for
    // 3 s, or finishing beyond 10 s; it is then reported as failed and the next request is
    // accepted while the stuck write is left to return). Main thread.
    void requestClip(double seconds, std::function<void(const ClipSaveOutcome&)> done = {});
    // The save itself, blocking, on the calling thread (not the main thread): the guard, the
    // saving indicator, the export, the notification, the chime and the announcement.
    ClipSaveOutcome saveClip(double durationSeconds);

    CorvaneStatus getStatus();
    RecordingPair recordingStatus() const;
    bool isSavingClip() const;

    // Re-reads the configuration file and applies what changed. A file that is missing, cannot
    // be read or is empty applies nothing; the reason is logged and returned. Main thread.
    ConfigReloadOutcome reloadConfigAndApply();
    void reloadConfigAndRestart() { reloadConfigAndApply(); }

    // Runs after every successful save, on the save lane. Set before start().
    std::function<void(const std::string& path)> onClipSavedCallback;

    const std::vector<RecordItem>& records() const { return records_; }
    std::shared_ptr<CorvaneRingBuffer> ringBuffer() const { return ringBuffer_; }
    CaptureControl& capture() { return *capture_; }
    CorvaneHotkeys& hotkeys() { return *hotkeys_; }
    TrayMenu& ui() { return *ui_; }
    std::string outputDir() const;
    bool isSystemSleeping() const { return isSystemSleeping_; }

private:
    ThreadChecker mainThread_;  // the constructing (main) thread
    enum class PauseKind { SystemSleep, ScreensSleep };

    void setupCallbacks();
    void setupSleepWakeObservers();
    void registerAllHotkeys();
    void statusTick();
    void pause(PauseKind kind, const char* message);
    void resume(const char* message);
    void reconfigure();
    void finishSleepPreparationIfReady();
    ConfigReloadOutcome reloadConfigFromFile();
    bool plannedRestartPending() const { return wakeRestartPending_ || displayRestartPending_; }
    CaptureSettings captureSettingsForReload() const;
    struct SaveJob;
    std::shared_ptr<SaveJob> tryBeginSave(std::function<void(const ClipSaveOutcome&)> done);
    ClipSaveOutcome runSave(const std::shared_ptr<SaveJob>& job, double durationSeconds);
    void giveUpSave(const std::shared_ptr<SaveJob>& job, SaveWatchdog::Overrun overrun);
    void endSave();
    void waitForSaveBeforeQuit();
    void postToMain(std::function<void()> task);
    void setOutputDirEverywhere(const std::string& outputDir);

    const AppConfig config_;
    EngineDependencies deps_;
    // Deferred main-thread work checks weakAlive_ before touching the engine; alive_ is reset
    // first thing in the destructor. weakAlive_ is never written after construction, so other
    // threads may copy it.
    std::shared_ptr<char> alive_ = std::make_shared<char>();
    const std::weak_ptr<char> weakAlive_ = alive_;
    std::shared_ptr<CorvaneRingBuffer> ringBuffer_;
    std::unique_ptr<CaptureControl> capture_;
    std::unique_ptr<CorvaneHotkeys> hotkeys_;
    std::unique_ptr<TrayMenu> ui_;

    // Main thread only.
    std::vector<RecordItem> records_;
    std::map<int32_t, double> recordDurationsById_;  // hotkey id (1-based profile position) to clip length
    std::string configPathString_;
    // What the file asks of capture, as last read: the bit rate as configured, the target size
    // and window scale worked out from currentResolution_ (kept for a later change of mode).
    CaptureSettings captureSettings_;
    std::string currentResolution_ = "native";
    ScheduledTask statusTimer_;
    ScheduledTask wakeRestart_;
    ScheduledTask displayRestart_;
    int healthCheckCounter_ = 0;
    // A wake or display restart is scheduled but has not run: the capture is stopped on purpose,
    // so the watchdog must not start it as well (that would restart it twice).
    bool wakeRestartPending_ = false;
    bool displayRestartPending_ = false;
    bool isSystemSleeping_ = false;
    bool started_ = false;
    bool stopped_ = false;
    bool sleepPreparing_ = false;  // a system sleep waits for the pause to finish
    int pauseStopsPending_ = 0;    // capture stops of pauses not yet finished

    // Read by saves on the save lane.
    mutable std::mutex fieldsMutex_;
    std::string outputDirString_;  // guarded by fieldsMutex_
    std::atomic<bool> currentRecordAudio_{true};  // captureSettings_.recordAudio, for saves
    std::atomic<bool> currentPlaySound_{true};

    mutable std::mutex saveLock_;
    bool isSavingClipInProgress_ = false;  // guarded by saveLock_
    std::shared_ptr<SaveJob> runningSave_;  // guarded by saveLock_

    SaveWatchdog saveWatchdog_;  // main thread

    // Declared last: stopped first on destruction, while everything a save uses still exists.
    std::unique_ptr<SaveWorker> ownedSaveWorker_;
    Executor* saveLane_ = nullptr;
};

// The configured frame rate and bit rate as the engine holds them: a frame rate below 1 or
// beyond 32 bits gives 48, a bit rate beyond 32 bits gives 12000.
int32_t sanitizedFps(int64_t fps);
int32_t sanitizedBitrateKbps(int64_t bitrateKbps);
// The capture's target size and window scale for a resolution text: a window is captured at its
// own size times the scale ("75%", "50%"); a display at the preset size or natively.
CaptureSettings captureSizing(CaptureSettings settings, const std::string& resolution);
// The capture settings of a start-up configuration, with the engine's sanitised rates.
CaptureSettings captureSettingsFrom(const AppConfig& config);

}  // namespace corvane
