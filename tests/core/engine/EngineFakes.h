#pragma once

// Scriptable stand-ins for everything the engine talks to. Each counts calls and keeps what it
// was given; nothing here decides behaviour the engine should have.

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/engine/CaptureControl.h"
#include "core/export/ClipExporter.h"
#include "core/replay/CorvaneRingBuffer.h"
#include "core/services/MainWindowHost.h"
#include "core/services/Notifier.h"
#include "core/services/SystemEvents.h"
#include "core/services/TrayMenu.h"
#include "core/shortcuts/HotkeyBackend.h"
#include "core/shortcuts/X11KeyMapping.h"

namespace corvane::test {

class FakeCapture final : public CaptureControl {
public:
    explicit FakeCapture(const CaptureSettings& initial) : held(initial) {}

    void start(std::function<void(std::optional<std::string>)> done) override {
        ++startCalls;
        if (startError) {
            done(startError);
        } else {
            running = true;
            done(std::nullopt);
        }
    }
    void stop(std::function<void()> done) override {
        ++stopCalls;
        running = false;
        if (finishStopsAtOnce) {
            done();
        } else {
            pendingStops.push_back(std::move(done));
        }
    }
    bool stopAndWait(Duration timeout) override {
        stopAndWaitTimeouts.push_back(timeout);
        if (onStopAndWait) onStopAndWait();
        running = false;
        return !hangsOnStop;
    }
    void restart() override { ++restartCalls; }
    void checkHealth(bool isSystemSleeping) override { healthChecks.push_back(isSystemSleeping); }
    void updateConfig(const CaptureSettings& s) override {
        ++updateConfigCalls;
        if (!(s == held) && running) ++restartsFromConfig;
        held = s;
    }
    CaptureSettings settings() const override { return held; }
    bool isRunning() const override { return running; }
    std::optional<SteadyTime> recordingStartTime() const override { return startedAt; }
    int32_t captureWidth() const override { return width; }
    int32_t captureHeight() const override { return height; }
    bool hasPermission() override { return permission; }
    void setOnStateChanged(std::function<void(bool)> callback) override {
        onStateChanged = std::move(callback);
    }

    void finishPendingStops() {
        auto stops = std::move(pendingStops);
        pendingStops.clear();
        for (auto& done : stops) done();
    }

    CaptureSettings held;
    bool running = false;
    bool permission = true;
    bool hangsOnStop = false;
    bool finishStopsAtOnce = true;
    std::optional<std::string> startError;
    std::optional<SteadyTime> startedAt;
    int32_t width = 1920;
    int32_t height = 1080;
    int startCalls = 0;
    int stopCalls = 0;
    int restartCalls = 0;
    int updateConfigCalls = 0;
    int restartsFromConfig = 0;
    std::vector<bool> healthChecks;
    std::vector<Duration> stopAndWaitTimeouts;
    std::vector<std::function<void()>> pendingStops;
    std::function<void()> onStopAndWait;
    std::function<void(bool)> onStateChanged;
};

class FakeHotkeyBackend final : public HotkeyBackend {
public:
    HotkeyGrabStatus grab(uint32_t grabId, uint32_t keysym, uint32_t modifiers) override {
        ++grabCalls;
        live[grabId] = X11KeyCombination{keysym, modifiers};
        return kHotkeyGrabGranted;
    }
    void ungrab(uint32_t grabId) override {
        ++ungrabCalls;
        live.erase(grabId);
    }
    void setPressHandler(PressHandler handler) override { onPress = std::move(handler); }

    // The user presses a shortcut: delivered only when it is grabbed.
    bool press(const char* shortcut) {
        const X11KeyCombination combination = *x11CombinationForShortcut(shortcut);
        for (const auto& [grabId, held] : live) {
            if (held == combination && onPress) {
                onPress(grabId);
                return true;
            }
        }
        return false;
    }

    std::map<uint32_t, X11KeyCombination> live;
    PressHandler onPress;
    int grabCalls = 0;
    int ungrabCalls = 0;
};

class FakeTray final : public TrayMenu {
public:
    void setCallbacks(TrayCallbacks c) override { callbacks = std::move(c); }
    void setOutputDir(const std::string& dir) override { outputDir = dir; }
    void setConfigPath(const std::string& path) override { configPath = path; }
    void setupMenubar(const std::vector<RecordItem>& records) override {
        ++setupCalls;
        shownRecords = records;
    }
    void updateRecords(const std::vector<RecordItem>& records) override {
        ++updateRecordsCalls;
        shownRecords = records;
    }
    void updateUI() override {
        ++updateUICalls;
        if (callbacks.getStatusHandler) lastStatus = callbacks.getStatusHandler();
    }
    void setSavingClip(bool saving) override { savingHistory.push_back(saving); }

    TrayCallbacks callbacks;
    std::string outputDir;
    std::string configPath;
    std::vector<RecordItem> shownRecords;
    std::vector<bool> savingHistory;
    CorvaneStatus lastStatus;
    int setupCalls = 0;
    int updateRecordsCalls = 0;
    int updateUICalls = 0;
};

class FakeNotifier final : public Notifier {
public:
    void showNotification(const std::string& title, const std::string& body) override {
        std::lock_guard lock(mutex);
        shown.emplace_back(title, body);
    }
    std::vector<std::pair<std::string, std::string>> all() {
        std::lock_guard lock(mutex);
        return shown;
    }

    std::mutex mutex;
    std::vector<std::pair<std::string, std::string>> shown;  // guarded by mutex
};

class FakeSystemEvents final : public SystemEvents {
public:
    void start(SystemEventHandlers h) override {
        ++startCalls;
        handlers = std::move(h);
    }
    void stop() override {
        ++stopCalls;
        handlers = {};
    }
    void sleepPreparationDone() override { ++preparationDoneCalls; }

    SystemEventHandlers handlers;
    int startCalls = 0;
    int stopCalls = 0;
    int preparationDoneCalls = 0;
};

struct ExportCall {
    double durationSeconds;
    std::string outputDir;
    bool playSound;
    bool recordAudio;
};

class FakeExporter final : public ClipExporter {
public:
    ClipExportResult exportClip(CorvaneRingBuffer&, double durationSeconds,
                                const std::string& outputDir, bool playSound,
                                bool recordAudio) override {
        calls.push_back({durationSeconds, outputDir, playSound, recordAudio});
        if (duringExport) duringExport();
        return nextResult;
    }

    ClipExportResult nextResult;
    std::vector<ExportCall> calls;
    std::function<void()> duringExport;
};

class FakeWindowHost final : public MainWindowHost {
public:
    void setOutputDir(const std::string& dir) override { outputDir = dir; }
    void setConfigPath(const std::string& path) override { configPath = path; }
    void setOnSettingsChanged(std::function<void()> c) override { onSettingsChanged = std::move(c); }
    void setRecordingStatusProvider(std::function<RecordingPair()> p) override {
        recordingStatus = std::move(p);
    }
    void setupMainMenuIfNeeded() override { ++setupMainMenuCalls; }
    void updateWindowTitle() override { ++titleUpdates; }

    std::string outputDir;
    std::string configPath;
    std::function<void()> onSettingsChanged;
    std::function<RecordingPair()> recordingStatus;
    int setupMainMenuCalls = 0;
    int titleUpdates = 0;
};

// A save lane that runs its tasks only when the test says so.
class ManualLane final : public Executor {
public:
    bool post(Task task) override {
        tasks.push_back(std::move(task));
        return true;
    }
    int runAll() {
        int n = 0;
        while (!tasks.empty()) {
            Task t = std::move(tasks.front());
            tasks.pop_front();
            t();
            ++n;
        }
        return n;
    }
    std::deque<Task> tasks;
};

}  // namespace corvane::test
