#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "core/engine/CorvaneEngine.h"
#include "core/log/Log.h"
#include "core/sched/ManualScheduler.h"
#include "core/engine/EngineFakes.h"
#include "support/TempDir.h"

namespace corvane::test {

// An engine wired to fakes, on a virtual clock, with its configuration file in a temporary
// folder. Log lines are captured.
class EngineHarness : public ::testing::Test {
protected:
    EngineHarness() {
        setLogSinkForTesting([this](const std::string& line) {
            std::lock_guard lock(logMutex);
            lines.push_back(line);
        });
        config.configPath = (dir / "config.toml").string();
    }
    ~EngineHarness() override {
        lane.runAll();
        engine.reset();
        setLogSinkForTesting(nullptr);
    }

    void build() {
        EngineDependencies deps{scheduler, exporter, notifier};
        deps.makeCapture = [this](const CaptureSettings& s, std::shared_ptr<CorvaneRingBuffer>) {
            auto fake = std::make_unique<FakeCapture>(s);
            capture = fake.get();
            return fake;
        };
        deps.makeHotkeyBackend = [this] {
            auto fake = std::make_unique<FakeHotkeyBackend>();
            hotkeys = fake.get();
            return fake;
        };
        deps.makeTray = [this] {
            auto fake = std::make_unique<FakeTray>();
            tray = fake.get();
            return fake;
        };
        deps.systemEvents = &events;
        deps.windowHost = &window;
        deps.clipSavedAnnouncer = &announcer;
        deps.terminateApplication = [this] { terminated.push_back(capture->stopAndWaitTimeouts.size()); };
        deps.saveLane = useOwnSaveLane ? nullptr : &lane;
        deps.bufferClock = &scheduler;
        engine = std::make_unique<CorvaneEngine>(config, std::move(deps));
    }
    void buildAndStart() {
        build();
        engine->start();
        scheduler.runDue();
    }

    void writeConfig(const std::string& text) {
        std::ofstream out(config.configPath, std::ios::trunc);
        out << text;
    }

    // Fills the replay buffer with `seconds` of 10 fps video, a keyframe every second.
    void bufferVideo(double seconds) {
        auto format = std::make_shared<VideoStreamFormat>();
        for (int i = 0; i < int(seconds * 10); ++i) {
            auto packet = std::make_shared<VideoPacket>();
            packet->data.assign(100, 0);
            packet->pts = MediaTime(i, 10);
            packet->duration = MediaTime(1, 10);
            packet->isKeyframe = i % 10 == 0;
            packet->format = format;
            engine->ringBuffer()->appendVideo(packet, packet->isKeyframe);
        }
    }

    int countLines(const std::string& text) {
        std::lock_guard lock(logMutex);
        int n = 0;
        for (const auto& line : lines) n += line == text;
        return n;
    }

    bool useOwnSaveLane = false;  // true: the engine's own worker thread runs the saves
    TempDir dir;
    AppConfig config;
    ManualScheduler scheduler;
    FakeExporter exporter;
    FakeNotifier notifier;
    FakeSystemEvents events;
    FakeWindowHost window;
    ClipSavedAnnouncer announcer;
    ManualLane lane;
    FakeCapture* capture = nullptr;
    FakeHotkeyBackend* hotkeys = nullptr;
    FakeTray* tray = nullptr;
    std::vector<size_t> terminated;  // stopAndWait calls seen when the app was told to end
    std::unique_ptr<CorvaneEngine> engine;

    std::mutex logMutex;
    std::vector<std::string> lines;  // guarded by logMutex
};

}  // namespace corvane::test
