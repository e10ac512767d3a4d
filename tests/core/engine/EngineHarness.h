#pragma once

// An engine wired to scriptable stand-ins, on a virtual clock, with its configuration file in a
// temporary folder and its log lines captured. The stand-ins count calls and keep what they were
// given; nothing here decides behaviour the engine should have.

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <mutex>

#include "core/engine/CorvaneEngine.h"
#include "core/sched/ManualScheduler.h"
#include "support/CaptureLogLines.h"
#include "support/FakeHotkeyBackend.h"
#include "support/TempDir.h"

namespace corvane::test {

class FakeCapture final : public CaptureControl {
public:
    explicit FakeCapture(const CaptureSettings& initial) : held(initial) {}
    void start(StartCompletion done) override {
        running = !startError;
        done(startError ? std::optional<CaptureError>(CaptureError{"X11", 1, *startError}) : std::nullopt);
    }
    // The stop finishes when the test runs the callbacks in pendingStops.
    void stop(std::function<void()> done) override {
        running = false;
        pendingStops.push_back(std::move(done));
    }
    bool stopAndWait(Duration timeout) override {
        stopAndWaitTimeouts.push_back(timeout);
        running = false;
        return !hangsOnStop;
    }
    void restart() override { ++restartCalls; }
    void checkHealth(bool isSystemSleeping) override { healthChecks.push_back(isSystemSleeping); }
    void updateConfig(const CaptureSettings& s) override {
        if (!(s == held) && running) ++restartsFromConfig;
        held = s;
    }
    CaptureSettings settings() const override { return held; }
    bool isRunning() const override { return running; }
    std::optional<SteadyTime> recordingStartTime() const override { return std::nullopt; }
    int32_t captureWidth() const override { return 1920; }
    int32_t captureHeight() const override { return 1080; }
    bool hasPermission() const override { return true; }
    void setOnStateChanged(std::function<void(bool)> c) override { onStateChanged = std::move(c); }

    CaptureSettings held;
    bool running = false, hangsOnStop = false;
    std::optional<std::string> startError;
    int restartCalls = 0, restartsFromConfig = 0;
    std::vector<bool> healthChecks;
    std::vector<Duration> stopAndWaitTimeouts;
    std::vector<std::function<void()>> pendingStops;
    std::function<void(bool)> onStateChanged;
};

class FakeTray final : public TrayMenu {
public:
    void setCallbacks(TrayCallbacks c) override { callbacks = std::move(c); }
    void setOutputDir(const std::string& dir) override { outputDir = dir; }
    void setConfigPath(const std::string&) override {}
    void setupMenubar(const std::vector<RecordItem>&) override {}
    void updateRecords(const std::vector<RecordItem>&) override { ++updateRecordsCalls; }
    void updateUI() override {
        ++updateUICalls;
        lastStatus = callbacks.getStatusHandler();
    }
    void setSavingClip(bool saving) override { savingHistory.push_back(saving); }

    TrayCallbacks callbacks;
    std::string outputDir;
    std::vector<bool> savingHistory;
    CorvaneStatus lastStatus;
    int updateRecordsCalls = 0, updateUICalls = 0;
};

class FakeWindowHost final : public MainWindowHost {
public:
    void setOutputDir(const std::string& dir) override { outputDir = dir; }
    void setConfigPath(const std::string&) override {}
    void setOnSettingsChanged(std::function<void()>) override {}
    void setRecordingStatusProvider(std::function<RecordingPair()>) override {}
    void setupMainMenuIfNeeded() override {}
    void updateWindowTitle() override { ++titleUpdates; }
    std::string outputDir;
    int titleUpdates = 0;
};

class FakeSystemEvents final : public SystemEvents {
public:
    void start(SystemEventHandlers h) override { handlers = std::move(h); }
    void stop() override { ++stopCalls; }
    void sleepPreparationDone() override { ++preparationDoneCalls; }
    SystemEventHandlers handlers;
    int stopCalls = 0, preparationDoneCalls = 0;
};

// Written on the save lane; the tests read them once the save has ended.
class FakeNotifier final : public Notifier {
public:
    void showNotification(const std::string& title, const std::string& body) override {
        std::lock_guard lock(mutex);
        shown.emplace_back(title, body);
    }
    std::mutex mutex;
    std::vector<std::pair<std::string, std::string>> shown;  // guarded by mutex
};

class FakeExporter final : public ClipExporter {
public:
    ClipExportResult exportClip(CorvaneRingBuffer&, double durationSeconds, const std::string& outputDir,
                                bool, ExportProgress& progress) override {
        ClipExportResult result;
        {
            std::lock_guard lock(mutex);
            durations.push_back(durationSeconds);
            lastOutputDir = outputDir;
            result = nextResult;
        }
        // A save given up on returns from here on its own thread: nothing after this reads the
        // fixture.
        if (duringExport) duringExport(progress);
        return result;
    }
    ClipExportResult nextResult;
    std::mutex mutex;
    std::vector<double> durations;  // guarded by mutex while saves run on worker threads
    std::string lastOutputDir;
    std::function<void(ExportProgress&)> duringExport;
};

class FakeChime final : public SoundPlayer {
public:
    void playSavedChime() override { ++plays; }
    std::atomic<int> plays{0};
};

class EngineHarness : public ::testing::Test {
protected:
    EngineHarness() { config.configPath = (dir / "config.toml").string(); }
    ~EngineHarness() override {
        lane.runDue();
        engine.reset();
    }

    void build() {
        engine = std::make_unique<CorvaneEngine>(config, EngineDependencies{
            .scheduler = scheduler, .exporter = exporter, .notifier = notifier,
            .makeCapture = [this](const CaptureSettings& s, auto) {
                return std::unique_ptr<CaptureControl>(capture = new FakeCapture(s));
            },
            .makeHotkeyBackend = [this] { return std::unique_ptr<HotkeyBackend>(hotkeys = new FakeHotkeyBackend); },
            .makeTray = [this] { return std::unique_ptr<TrayMenu>(tray = new FakeTray); },
            .systemEvents = &events, .windowHost = &window, .clipSavedAnnouncer = &announcer, .savedChime = &chime,
            .terminateApplication = [this] { terminated.push_back(capture->stopAndWaitTimeouts.size()); },
            .abandonPendingStarts = [this] { abandoned.push_back(capture->stopAndWaitTimeouts.size()); },
            .saveLane = useOwnSaveLane ? nullptr : &lane, .bufferClock = &scheduler});
    }
    void buildAndStart() {
        build();
        engine->start();
        scheduler.runDue();
    }
    void reloadWith(const std::string& text) {
        std::ofstream(config.configPath, std::ios::trunc) << text;
        engine->reloadConfigAndApply();
    }
    // Fills the replay buffer with `seconds` of 10 fps video, a keyframe every second.
    void bufferVideo(double seconds) {
        auto format = std::make_shared<VideoStreamFormat>();
        for (int i = 0; i < int(seconds * 10); ++i) {
            const bool key = i % 10 == 0;
            engine->ringBuffer()->appendVideo(std::make_shared<VideoPacket>(VideoPacket{
                std::vector<uint8_t>(100), MediaTime(i, 10), MediaTime(1, 10), key, format}), key);
        }
    }
    size_t buffered() { return engine->ringBuffer()->getStatus().videoCount; }

    LogCapture log;  // first: outlives the engine and its threads
    bool useOwnSaveLane = false;  // true: the engine's own worker thread runs the saves
    TempDir dir;
    AppConfig config;
    ManualScheduler scheduler;  // the main thread
    ManualScheduler lane;       // the save lane: saves run only when the test calls runDue()
    FakeExporter exporter;
    FakeNotifier notifier;
    FakeChime chime;
    FakeSystemEvents events;
    FakeWindowHost window;
    ClipSavedAnnouncer announcer;
    FakeCapture* capture = nullptr;
    FakeHotkeyBackend* hotkeys = nullptr;
    FakeTray* tray = nullptr;
    std::vector<size_t> terminated;  // stopAndWait calls seen when the app was told to end
    std::vector<size_t> abandoned;   // the same, when pending starts were given up
    std::unique_ptr<CorvaneEngine> engine;
};

}  // namespace corvane::test
