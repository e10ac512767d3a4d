#pragma once

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/library/ClipsViewModel.h"
#include "core/library/LocalClipFiles.h"
#include "core/sched/ManualScheduler.h"

namespace corvane::test {

// The real local file system with hooks to inject failures and races.
class ScriptedFiles final : public ClipFiles {
public:
    std::optional<std::vector<FolderEntry>> list(const std::string& folder) override {
        if (listOverride) return listOverride(folder);
        return real.list(folder);
    }
    bool exists(const std::string& path) override { return real.exists(path); }
    FileOpResult moveNoReplace(const std::string& from, const std::string& to) override {
        if (beforeMove) beforeMove(to);
        if (failMoves) return FileOpResult::fromErrno(EIO);
        return real.moveNoReplace(from, to);
    }
    FileOpResult replace(const std::string& from, const std::string& to) override {
        ++replaceCalls;
        if (failReplace) return FileOpResult::fromErrno(EXDEV);
        return real.replace(from, to);
    }
    void removeQuietly(const std::string& path) override { real.removeQuietly(path); }
    void createFolders(const std::string& path) override { real.createFolders(path); }

    LocalClipFiles real;
    std::function<std::optional<std::vector<FolderEntry>>(const std::string&)> listOverride;
    std::function<void(const std::string& to)> beforeMove;
    bool failMoves = false;
    bool failReplace = false;
    int replaceCalls = 0;
};

class FakeWatcher final : public FolderWatcher {
public:
    bool start(const std::string& folder, std::function<void()> onEvent) override {
        ++starts;
        if (!std::filesystem::is_directory(folder)) return false;
        watched = folder;
        callback = std::move(onEvent);
        return true;
    }
    void stop() override {
        watched.clear();
        callback = nullptr;
    }
    void fire() {
        if (callback) callback();
    }
    std::string watched;
    std::function<void()> callback;
    int starts = 0;
};

class FakeTrash final : public ClipTrash {
public:
    FileOpResult moveToTrash(const std::string& path) override {
        if (fail) return FileOpResult::fromErrno(EACCES);
        trashed.push_back(path);
        std::filesystem::remove(path);
        return FileOpResult::success();
    }
    bool fail = false;
    std::vector<std::string> trashed;
};

class FakeFileManager final : public FileManagerActions {
public:
    void revealFile(const std::string& path) override { revealed.push_back(path); }
    void openFolder(const std::string& path) override { opened.push_back(path); }
    std::vector<std::string> revealed, opened;
};

// Duration = the file's size in bytes / 1000, so tests can tell files apart.
class FakeProber final : public ClipProber {
public:
    ClipMediaInfo probe(const std::string& path) override {
        probed.push_back(path);
        ClipMediaInfo info;
        info.durationSeconds = static_cast<double>(std::filesystem::file_size(path)) / 1000.0;
        info.thumbnail = Thumbnail{1, 1, {1, 2, 3}};
        return info;
    }
    std::vector<std::string> probed;
};

// Writes "cut:<source contents>" to the destination, or fails as told.
class FakeTrimmer final : public ClipTrimmer {
public:
    TrimOutcome trim(const std::string& source, const std::string& destination, double start,
                     double end, const std::atomic<bool>& cancelled) override {
        lastStart = start;
        lastEnd = end;
        if (cancelled) return {TrimOutcome::Status::Cancelled, {}};
        if (result.status != TrimOutcome::Status::Ok) return result;
        std::ifstream in(source);
        std::string body((std::istreambuf_iterator<char>(in)), {});
        std::ofstream(destination) << "cut:" << body;
        return {};
    }
    TrimOutcome result;
    double lastStart = -1, lastEnd = -1;
};

class FakePlayer final : public PreviewPlayer {
public:
    explicit FakePlayer(std::string p) : path(std::move(p)) {}
    void pause() override { paused = true; }
    double positionSeconds() const override { return position; }
    void seek(double s) override { position = s; }
    std::string path;
    bool paused = false;
    double position = 0;
};

class FakeSound final : public SoundPlayer {
public:
    void playSavedChime() override { ++chimes; }
    int chimes = 0;
};

inline void writeFile(const std::filesystem::path& p, const std::string& body) {
    std::ofstream(p, std::ios::binary) << body;
}
inline std::string readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}
// Sets a file's modification time to `secondsAgo` before now.
inline void setAge(const std::filesystem::path& p, int secondsAgo) {
    std::filesystem::last_write_time(
        p, std::filesystem::file_time_type::clock::now() - std::chrono::seconds(secondsAgo));
}

// A model wired to fakes over a real temporary folder. The worker queues are virtual too: probes
// and trims run only when the test calls runWorkers().
struct LibraryRig {
    explicit LibraryRig(const std::filesystem::path& folder)
        : cache(prober, probeWorker, scheduler),
          model(ClipsViewModelDeps{scheduler, files, cache, trimmer, trimWorker, &announcer, &trash,
                                   &fileManager, &watcher, &sound,
                                   [this](const std::string& path) {
                                       auto p = std::make_unique<FakePlayer>(path);
                                       players.push_back(p.get());
                                       return p;
                                   },
                                   [] { return std::string("/home/tester"); }}) {
        model.setOutputDir(folder.string());
        model.onChange = [this](unsigned c) { changes.push_back(c); };
    }
    void runWorkers() {
        for (int i = 0; i < 100 && (probeWorker.pendingCount() || trimWorker.pendingCount() ||
                                    scheduler.pendingCount());
             ++i) {
            probeWorker.runDue();
            trimWorker.runDue();
            scheduler.runDue();
        }
    }
    FakePlayer* currentPlayer() { return static_cast<FakePlayer*>(model.player()); }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& c : model.clips()) out.push_back(c.name);
        return out;
    }

    ManualScheduler scheduler, probeWorker, trimWorker;
    ScriptedFiles files;
    FakeProber prober;
    FakeTrimmer trimmer;
    FakeWatcher watcher;
    FakeTrash trash;
    FakeFileManager fileManager;
    FakeSound sound;
    ClipSavedAnnouncer announcer;
    std::vector<FakePlayer*> players;  // every player made, newest last (may dangle once replaced)
    std::vector<unsigned> changes;
    ClipMediaCache cache;
    ClipsViewModel model;
};

}  // namespace corvane::test
