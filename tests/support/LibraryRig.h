#pragma once

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/library/ClipsViewModel.h"
#include "core/sched/ManualScheduler.h"
#include "support/TextFiles.h"

// The clip library model wired to fakes over a real temporary folder, shared by the model and the
// view tests. Everything runs on the test thread; worker queues are virtual.
namespace corvane::test {

// Files in a real temporary folder (through std::filesystem; the platform's own implementation
// has its tests there), with hooks to inject failures and races.
class ScriptedFiles final : public ClipFiles {
public:
    std::optional<std::vector<FolderEntry>> list(const std::string& folder) override {
        if (listOverride) return listOverride(folder);
        namespace fs = std::filesystem;
        std::error_code ec;
        if (!fs::is_directory(folder, ec)) return std::nullopt;
        std::vector<FolderEntry> entries;
        for (const auto& e : fs::directory_iterator(folder, ec)) {
            FolderEntry entry{e.path().filename().string()};
            const fs::file_status st = fs::status(e.path(), ec);
            entry.isRegularFile = fs::is_regular_file(st);
            if (entry.isRegularFile) entry.size = static_cast<int64_t>(fs::file_size(e.path(), ec));
            const auto modified = fs::last_write_time(e.path(), ec);
            if (!ec) entry.modified = std::chrono::time_point_cast<WallTime::duration>(std::chrono::file_clock::to_sys(modified));
            entries.push_back(std::move(entry));
        }
        return entries;
    }
    bool exists(const std::string& path) override { return std::filesystem::exists(std::filesystem::symlink_status(path)); }
    FileOpResult moveNoReplace(const std::string& from, const std::string& to) override {
        if (beforeMove) beforeMove(to);
        if (exists(to)) return FileOpResult::fromErrno(EEXIST);
        return replaceNow(from, to);
    }
    FileOpResult replace(const std::string& from, const std::string& to) override {
        ++replaceCalls;
        return failReplace ? FileOpResult::fromErrno(EXDEV) : replaceNow(from, to);
    }
    void removeQuietly(const std::string& path) override {
        std::error_code ec;
        std::filesystem::remove(path, ec);
    }
    void createFolders(const std::string& path) override {
        std::error_code ec;
        std::filesystem::create_directories(path, ec);
    }

    std::function<std::optional<std::vector<FolderEntry>>(const std::string&)> listOverride;
    std::function<void(const std::string& to)> beforeMove;  // runs just before the move, to race it
    bool failReplace = false;
    int replaceCalls = 0;

private:
    static FileOpResult replaceNow(const std::string& from, const std::string& to) {
        std::error_code ec;
        std::filesystem::rename(from, to, ec);
        return ec ? FileOpResult::fromErrno(ec.value()) : FileOpResult::success();
    }
};

class FakeWatcher final : public FolderWatcher {
public:
    bool start(const std::string& folder, std::function<void()> onEvent) override {
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
        if (std::ifstream(path).get() == 'X') {  // stands for a file with no playable video
            info.damaged = true;
            return info;
        }
        info.durationSeconds = static_cast<double>(std::filesystem::file_size(path)) / 1000.0;
        info.thumbnail = Thumbnail{96, 72, std::vector<uint8_t>(96 * 72 * 3, 128)};  // 4:3
        return info;
    }
    // A picture filling the box asked for, whose bytes are the file's size (tells posters apart);
    // none when damaged.
    Thumbnail firstPicture(const std::string& path, int width, int height) override {
        postered.push_back(path);
        posterBoxes.emplace_back(width, height);
        if (std::ifstream(path).get() == 'X') return {};
        const auto byte = static_cast<uint8_t>(std::filesystem::file_size(path));
        return Thumbnail{width, height, std::vector<uint8_t>(size_t(width) * size_t(height) * 3, byte)};
    }
    std::vector<std::string> probed, postered;
    std::vector<std::pair<int, int>> posterBoxes;
};

// Writes a clip whose modification time is `secondsAgo` before now.
inline void addClip(const std::filesystem::path& p, int secondsAgo, const std::string& body = "clip") {
    writeTextFile(p, body);
    std::filesystem::last_write_time(
        p, std::filesystem::file_time_type::clock::now() - std::chrono::seconds(secondsAgo));
}
// Trim results not yet moved into place (they must never be left behind).
inline int tempTrimFiles(const std::filesystem::path& folder) {
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        n += e.path().filename().string().rfind(".tmp_trim_", 0) == 0;
    return n;
}

// Writes "cut:<source contents>" to the destination, or fails as told.
class FakeTrimmer final : public ClipTrimmer {
public:
    TrimOutcome trim(const std::string& source, const std::string& destination, double start,
                     double end, const std::atomic<bool>& cancelled) override {
        lastStart = start;
        lastEnd = end;
        if (cancelled) return {TrimOutcome::Status::Cancelled, {}};
        if (result.status != TrimOutcome::Status::Ok) return result;
        writeTextFile(destination, "cut:" + readTextFile(source));
        return {};
    }
    TrimOutcome result;
    double lastStart = -1, lastEnd = -1;
};

class FakePlayer final : public PreviewPlayer {
public:
    explicit FakePlayer(std::string p) : path(std::move(p)) {}
    void play() override { paused = false; }
    void pause() override { paused = true; }
    bool isPlaying() const override { return !paused; }
    double positionSeconds() const override { return position; }
    void seek(double s) override { position = s; }
    std::string path;
    bool paused = true;  // loaded, not started
    double position = 0;
};

class FakeSound final : public SoundPlayer {
public:
    void playSavedChime() override { ++chimes; }
    int chimes = 0;
};

struct LibraryRig {
    explicit LibraryRig(const std::filesystem::path& folder)
        : cache(prober, probeWorker, scheduler),
          model(ClipsViewModelDeps{scheduler, files, cache, trimmer, trimWorker, &announcer, &trash,
                                   &fileManager, &watcher, &sound,
                                   [](const std::string& path) { return std::make_unique<FakePlayer>(path); },
                                   [] { return std::string("/home/tester"); }, &prober, &probeWorker}) {
        model.setOutputDir(folder.string());
        model.onChange = [this](unsigned c) { changes.push_back(c); };
    }
    // Probes and trims run only here, with the main-thread tasks they post.
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
    std::vector<unsigned> changes;  // every onChange mask, in order
    ClipMediaCache cache;
    ClipsViewModel model;
};

}  // namespace corvane::test
