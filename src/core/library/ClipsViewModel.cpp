#include "core/library/ClipsViewModel.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <set>
#include <utility>

#include "core/library/ClipTexts.h"
#include "core/log/Log.h"

namespace corvane {

struct ClipsViewModel::Alive {
    ClipsViewModel* model;  // main thread only; null once the model is destroyed
};

namespace {

std::string trimmed(const std::string& s, const char* chars) {
    const size_t b = s.find_first_not_of(chars);
    if (b == std::string::npos) return {};
    const size_t e = s.find_last_not_of(chars);
    return s.substr(b, e - b + 1);
}

std::string lowerAscii(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool asciiContainsIgnoringCase(const std::string& name, const std::string& needle) {
    return lowerAscii(name).find(lowerAscii(needle)) != std::string::npos;
}

std::string joinPath(const std::string& folder, const std::string& name) {
    return (std::filesystem::path(folder) / name).lexically_normal().string();
}

std::string normalised(const std::string& path) {
    return std::filesystem::path(path).lexically_normal().string();
}

ClipError fileError(const FileOpResult& r) {
    return ClipError{"POSIX", r.errorCode, r.message};
}

}  // namespace

std::string expandTilde(const std::string& path, const std::string& home) {
    if (path == "~") return home;
    if (path.rfind("~/", 0) == 0) return home + path.substr(1);
    return path;
}

bool isAcceptableClipName(const std::string& name) {
    if (name.empty() || name[0] == '.') return false;
    return std::none_of(name.begin(), name.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u < 0x20 || u == 0x7f;
    });
}

ClipsViewModel::ClipsViewModel(ClipsViewModelDeps deps)
    : deps_(std::move(deps)), alive_(std::make_shared<Alive>(Alive{this})) {
    if (!deps_.homeFolder) {
        deps_.homeFolder = [] {
            const char* home = std::getenv("HOME");
            return std::string(home ? home : "");
        };
    }
    nameMatcher = asciiContainsIgnoringCase;
    std::weak_ptr<Alive> weak = alive_;
    deps_.mediaCache.setOnReady([weak](const std::string& path) {
        if (auto a = weak.lock(); a && a->model) a->model->clipInfoReady(path);
    });
    if (deps_.announcer) {
        Scheduler* scheduler = &deps_.scheduler;
        announcerToken_ = deps_.announcer->subscribe([weak, scheduler](const std::string& path) {
            scheduler->post([weak, path] {
                auto a = weak.lock();
                if (!a || !a->model) return;
                ClipsViewModel& self = *a->model;
                if (!self.shown_) {
                    self.savedWhileHidden_ = normalised(path);
                    return;
                }
                self.reloadAndSelect(normalised(path));
            });
        });
    }
}

ClipsViewModel::~ClipsViewModel() {
    alive_->model = nullptr;
    if (deps_.announcer) deps_.announcer->unsubscribe(announcerToken_);
    deps_.mediaCache.setOnReady(nullptr);
    stopWatchingDirectory();
}

void ClipsViewModel::notify(unsigned changes) {
    if (changes && onChange) onChange(changes);
}

bool ClipsViewModel::matchesSearch(const std::string& name) const {
    return trimmed(searchText_, " \t").empty() || !nameMatcher || nameMatcher(name, searchText_);
}

std::vector<ClipItem> ClipsViewModel::filteredClips() const {
    if (trimmed(searchText_, " \t").empty()) return clips_;
    std::vector<ClipItem> out;
    for (const ClipItem& clip : clips_)
        if (matchesSearch(clip.name)) out.push_back(clip);
    return out;
}

void ClipsViewModel::setSearchText(std::string text) {
    mainThread_.assertOnOwnerThread("ClipsViewModel::setSearchText");
    if (text == searchText_) return;
    searchText_ = std::move(text);
    // A clip the search hides is not shown, so it must not go on playing unseen.
    if (selectedClip_ && player_ && !matchesSearch(selectedClip_->name)) player_->pause();
    notify(ClipsChanged);
}

std::string ClipsViewModel::formattedTotalSize() const { return formatByteCount(totalFolderSize_); }

void ClipsViewModel::setOutputDir(std::string dir) {
    outputDir_ = std::move(dir);
    if (shown_) startWatchingDirectory();
}

std::string ClipsViewModel::expandedOutputDir() const {
    return expandTilde(outputDir_, deps_.homeFolder());
}

const Thumbnail* ClipsViewModel::thumbnailFor(const ClipItem& clip) const {
    return deps_.mediaCache.thumbnail(ClipMediaCache::keyFor(clip.path, clip.fileSize, clip.creationDate));
}

void ClipsViewModel::startWatchingDirectory() {
    stopWatchingDirectory();
    if (!deps_.watcher) return;
    std::weak_ptr<Alive> weak = alive_;
    watching_ = deps_.watcher->start(expandedOutputDir(), [weak] {
        if (auto a = weak.lock(); a && a->model) a->model->scheduleReload();
    });
}

void ClipsViewModel::stopWatchingDirectory() {
    if (watching_ && deps_.watcher) deps_.watcher->stop();
    watching_ = false;
}

void ClipsViewModel::scheduleReload() {
    // One reload per event, each a quarter second after its event: the folder settles (a rename
    // comes as two events) and the file's attributes are in place by then.
    std::weak_ptr<Alive> weak = alive_;
    deps_.scheduler.postDelayed(kReloadDelay, [weak] {
        if (auto a = weak.lock(); a && a->model) a->model->reloadClips();
    });
}

void ClipsViewModel::reloadClips() {
    mainThread_.assertOnOwnerThread("ClipsViewModel::reloadClips");
    if (!shown_) return;  // the next show reloads
    const std::string dir = expandedOutputDir();
    auto entries = deps_.files.list(dir);
    if (!entries) {
        const bool hadPlayer = player_ != nullptr;
        clips_.clear();
        selectedClip_.reset();
        player_.reset();
        totalFolderSize_ = 0;
        deps_.mediaCache.retainOnly({});
        notify(ClipsChanged | SelectionChanged | TotalSizeChanged | (hadPlayer ? PlayerChanged : 0u) |
               dropPoster());
        return;
    }

    int64_t total = 0;
    std::vector<ClipItem> items;
    for (const FolderEntry& e : *entries) {
        if (e.name.empty() || e.name[0] == '.') continue;
        if (e.size && *e.size > 0) total += *e.size;
        const size_t dot = e.name.rfind('.');
        if (dot == std::string::npos || dot == 0) continue;
        const std::string ext = lowerAscii(e.name.substr(dot + 1));
        if (ext != "mp4" && ext != "mov") continue;
        // Only regular files are clips: a folder or a FIFO with a clip's name would be listed
        // and opening a FIFO blocks forever.
        if (!e.isRegularFile || !e.modified) continue;
        ClipItem item;
        item.id = nextId_++;
        item.path = joinPath(dir, e.name);
        item.name = e.name;
        item.creationDate = *e.modified;
        item.fileSize = e.size.value_or(0);
        items.push_back(std::move(item));
    }
    std::stable_sort(items.begin(), items.end(), [](const ClipItem& a, const ClipItem& b) {
        return a.creationDate > b.creationDate;
    });

    std::set<std::string> live;
    for (const ClipItem& item : items) live.insert(item.path);
    deps_.mediaCache.retainOnly(live);
    // Requests made later are probed first, so ask from the bottom of the list up.
    for (auto it = items.rbegin(); it != items.rend(); ++it) {
        const auto key = ClipMediaCache::keyFor(it->path, it->fileSize, it->creationDate);
        if (const ClipMediaInfo* info = deps_.mediaCache.find(key)) {
            it->durationSeconds = info->durationSeconds;
            it->damaged = info->damaged;
        } else {
            deps_.mediaCache.request(key);
        }
    }

    unsigned changes = ClipsChanged;
    if (total != totalFolderSize_) changes |= TotalSizeChanged;
    clips_ = std::move(items);
    totalFolderSize_ = total;

    if (selectedClip_) {
        const auto it = std::find_if(clips_.begin(), clips_.end(),
                                     [&](const ClipItem& c) { return c.path == selectedClip_->path; });
        if (it != clips_.end()) {
            // Same file: keep the player so a playing preview goes on.
            selectedClip_ = *it;
            notify(changes | SelectionChanged);
            return;
        }
    }
    notify(changes);
    if (clips_.empty()) {
        selectClip(std::nullopt);
    } else {
        selectClip(clips_.front());
    }
}

void ClipsViewModel::fetchDuration(const ClipItem& clip, std::function<void(double)> done) {
    if (clip.durationSeconds > 0) return done(clip.durationSeconds);
    const auto key = ClipMediaCache::keyFor(clip.path, clip.fileSize, clip.creationDate);
    if (const ClipMediaInfo* info = deps_.mediaCache.find(key)) return done(info->durationSeconds);
    durationWaiters_.emplace_back(key, std::move(done));
    deps_.mediaCache.request(key);
}

void ClipsViewModel::clipInfoReady(const std::string& path) {
    // Waiters first and from a copy: one may close a dialog that asks for another duration.
    auto waiters = std::move(durationWaiters_);
    durationWaiters_.clear();
    for (auto& [key, done] : waiters) {
        const ClipMediaInfo* info = key.path == path ? deps_.mediaCache.find(key) : nullptr;
        if (info) {
            done(info->durationSeconds);
        } else {
            durationWaiters_.emplace_back(std::move(key), std::move(done));
        }
    }
    unsigned changes = 0;
    for (ClipItem& clip : clips_) {
        if (clip.path != path) continue;
        const ClipMediaInfo* info =
            deps_.mediaCache.find(ClipMediaCache::keyFor(clip.path, clip.fileSize, clip.creationDate));
        if (!info) return;  // a result for an older version of the file
        clip.durationSeconds = info->durationSeconds;
        clip.damaged = info->damaged;
        const bool news = selectedClip_ && selectedClip_->path == path &&
                          (selectedClip_->durationSeconds != info->durationSeconds ||
                           selectedClip_->damaged != info->damaged);
        if (news) {  // not when only a dropped thumbnail came back
            selectedClip_->durationSeconds = info->durationSeconds;
            selectedClip_->damaged = info->damaged;
            changes = SelectionChanged;
            if (info->damaged) {
                releasePlayer();
                changes |= dropPoster();
            }
        }
        if (onClipInfoChanged) onClipInfoChanged(path);
        break;
    }
    notify(changes);
}

void ClipsViewModel::selectClip(const std::optional<ClipItem>& clip) {
    mainThread_.assertOnOwnerThread("ClipsViewModel::selectClip");
    selectedClip_ = clip;
    player_.reset();
    unsigned changes = SelectionChanged | PlayerChanged;
    if (!canPreview(clip)) {
        changes |= dropPoster();
    } else if (playerUsed_ && deps_.playerFactory) {
        changes |= dropPoster();
        player_ = deps_.playerFactory(clip->path);
    } else {
        changes |= requestPoster(*clip);
    }
    notify(changes);
}

bool ClipsViewModel::canPreview(const std::optional<ClipItem>& clip) const {
    // A damaged file has nothing to show or play; it stays selectable to be renamed or trashed.
    return clip && !clip->damaged && shown_;
}

PreviewPlayer* ClipsViewModel::ensurePlayer() {
    if (player_ || !canPreview(selectedClip_) || !deps_.playerFactory) return player_.get();
    playerUsed_ = true;
    player_ = deps_.playerFactory(selectedClip_->path);
    notify(PlayerChanged | dropPoster());
    return player_.get();
}

void ClipsViewModel::togglePlayback() {
    mainThread_.assertOnOwnerThread("ClipsViewModel::togglePlayback");
    PreviewPlayer* player = ensurePlayer();
    if (!player) return;
    if (player->isPlaying()) {
        player->pause();
    } else {
        player->play();
    }
}

void ClipsViewModel::seek(double seconds) {
    mainThread_.assertOnOwnerThread("ClipsViewModel::seek");
    if (PreviewPlayer* player = ensurePlayer()) player->seek(seconds);
}

unsigned ClipsViewModel::requestPoster(const ClipItem& clip) {
    const auto key = ClipMediaCache::keyFor(clip.path, clip.fileSize, clip.creationDate);
    if (posterKey_ == key) return 0;  // shown, or on its way
    const unsigned changes = dropPoster();
    if (!deps_.prober || !deps_.probeWorker) return changes;
    posterKey_ = key;
    decodePoster(clip);
    return changes;
}

void ClipsViewModel::decodePoster(const ClipItem& clip) {
    const uint64_t ticket = posterTicket_->load();
    std::weak_ptr<Alive> weak = alive_;
    ClipProber* prober = deps_.prober;
    Scheduler* scheduler = &deps_.scheduler;
    const bool posted = deps_.probeWorker->post([weak, prober, scheduler, current = posterTicket_, ticket,
                                                 path = clip.path, width = posterWidth_, height = posterHeight_] {
        // Skipped when another clip was selected meanwhile: going through a list with the arrow
        // keys would otherwise queue one decode per row passed.
        if (current->load() != ticket) return;
        Thumbnail picture = prober->firstPicture(path, width, height);
        scheduler->post([weak, ticket, picture = std::move(picture)]() mutable {
            if (auto a = weak.lock(); a && a->model) a->model->posterArrived(ticket, std::move(picture));
        });
    });
    if (!posted) posterKey_.reset();  // the worker is stopping: no poster
}

void ClipsViewModel::setPosterSize(int width, int height) {
    mainThread_.assertOnOwnerThread("ClipsViewModel::setPosterSize");
    width = std::clamp(width, 1, kPosterMaxWidth);
    height = std::clamp(height, 1, kPosterMaxHeight);
    if (width == posterWidth_ && height == posterHeight_) return;
    posterWidth_ = width;
    posterHeight_ = height;
    // Only a poster shown or on its way can be outgrown; without one there is nothing to redo.
    if (!posterKey_ || !selectedClip_) return;
    const bool outgrown = !poster_ || (poster_->width < width && poster_->height < height);
    if (!outgrown) return;
    posterTicket_->fetch_add(1);  // a smaller decode still on its way is not wanted any more
    decodePoster(*selectedClip_);
}

unsigned ClipsViewModel::dropPoster() {
    posterTicket_->fetch_add(1);
    posterKey_.reset();
    const bool had = poster_ != nullptr;
    poster_.reset();
    return had ? PosterChanged : 0u;
}

void ClipsViewModel::posterArrived(uint64_t ticket, Thumbnail picture) {
    // A poster for a clip that is no longer selected (or no longer wants one) is dropped.
    if (ticket != posterTicket_->load() || picture.empty()) return;
    poster_ = std::make_shared<const Thumbnail>(std::move(picture));
    notify(PosterChanged);
}

void ClipsViewModel::setShown(bool shown) {
    mainThread_.assertOnOwnerThread("ClipsViewModel::setShown");
    if (shown == shown_) return;
    shown_ = shown;
    if (!shown) {
        releasePlayer();
        notify(dropPoster());
        stopWatchingDirectory();
        return;
    }
    if (!outputDir_.empty()) startWatchingDirectory();
    if (savedWhileHidden_) {
        reloadAndSelect(*std::exchange(savedWhileHidden_, std::nullopt));
    } else {
        reloadClips();
        if (selectedClip_ && !player_) selectClip(selectedClip_);
    }
}

void ClipsViewModel::reloadAndSelect(const std::string& path) {
    reloadClips();
    for (const ClipItem& clip : clips_) {
        if (clip.path == path) {
            selectClip(clip);
            break;
        }
    }
}

void ClipsViewModel::pausePlayback() {
    if (player_) player_->pause();
}

void ClipsViewModel::releasePlayer() {
    if (!player_) return;
    player_->pause();
    player_.reset();
    notify(PlayerChanged);
}

void ClipsViewModel::revealInFinder(const ClipItem& clip) {
    if (deps_.fileManager) deps_.fileManager->revealFile(clip.path);
}

void ClipsViewModel::openClipsFolder() {
    const std::string dir = expandedOutputDir();
    deps_.files.createFolders(dir);
    if (deps_.fileManager) deps_.fileManager->openFolder(dir);
}

bool ClipsViewModel::renameClip(const ClipItem& clip, const std::string& newName) {
    std::string text = trimmed(newName, " \t\r\n\v\f");
    if (text.empty()) return false;
    std::replace(text.begin(), text.end(), '/', '-');
    std::replace(text.begin(), text.end(), ':', '-');
    if (!isAcceptableClipName(text)) return false;
    const std::string ext = clip.extension();
    const std::string newPath = joinPath(clip.folder(), ext.empty() ? text : text + "." + ext);
    if (newPath == clip.path) return true;
    if (deps_.files.exists(newPath)) return false;

    // The selection is a path: ids change at every reload, so comparing items would miss it.
    const bool wasSelected = selectedClip_ && selectedClip_->path == clip.path;
    std::optional<double> position;
    if (wasSelected && player_) {
        position = player_->positionSeconds();
        releasePlayer();  // the file must not be held open while it moves
    }
    const FileOpResult moved = deps_.files.moveNoReplace(clip.path, newPath);
    if (!moved.ok()) {
        logLine("Error renaming file: " + moved.message);
        return false;
    }
    reloadClips();
    if (wasSelected) {
        for (const ClipItem& c : clips_) {
            if (c.path != newPath) continue;
            selectClip(c);
            if (position && player_) player_->seek(*position);
            break;
        }
    }
    return true;
}

FileOpResult ClipsViewModel::deleteClip(const ClipItem& clip) {
    if (!deps_.trash) return FileOpResult::failed(ENOTSUP, "There is no Trash to move the clip to.");
    const FileOpResult r = deps_.trash->moveToTrash(clip.path);
    if (!r.ok()) {
        logLine("Error moving clip to trash: " + r.message);
        return r;
    }
    reloadClips();
    return r;
}

std::string ClipsViewModel::newUuid() const {
    if (uuidSource) return uuidSource();
    static thread_local std::mt19937_64 rng{std::random_device{}()};
    uint64_t hi = rng(), lo = rng();
    hi = (hi & ~0xF000ull) | 0x4000ull;                      // version 4
    lo = (lo & ~(0xC0ull << 56)) | (0x80ull << 56);          // RFC 4122 variant
    char buf[40];
    std::snprintf(buf, sizeof buf, "%08X-%04X-%04X-%04X-%012llX", static_cast<unsigned>(hi >> 32),
                  static_cast<unsigned>((hi >> 16) & 0xFFFF), static_cast<unsigned>(hi & 0xFFFF),
                  static_cast<unsigned>(lo >> 48),
                  static_cast<unsigned long long>(lo & 0xFFFFFFFFFFFFull));
    return buf;
}

std::shared_ptr<TrimJob> ClipsViewModel::trimClip(const ClipItem& clip, double startTime,
                                                  double endTime, bool saveAsNew,
                                                  TrimCompletion completion) {
    auto job = std::make_shared<TrimJob>();
    std::weak_ptr<Alive> weak = alive_;
    auto failLater = [&](ClipError error) {
        deps_.scheduler.post([job, completion, error] {
            if (!job->isCancelled() && completion) completion(std::nullopt, error);
        });
        return job;
    };
    // A range without video would write an empty clip and report success (and "replace" would
    // then destroy the original): refuse anything but a finite, non-empty range inside the clip.
    const bool startPastEnd = clip.durationSeconds > 0 && startTime >= clip.durationSeconds;
    if (!std::isfinite(startTime) || startTime < 0 || !std::isfinite(endTime) || endTime <= startTime ||
        startPastEnd) {
        return failLater(ClipError{"Corvane", -1, "Invalid trim range"});
    }
    endTime = std::max(endTime, startTime + 0.1);

    if (selectedClip_ && selectedClip_->path == clip.path) pausePlayback();

    const std::string tempPath = joinPath(clip.folder(), ".tmp_trim_" + newUuid() + ".mp4");
    deps_.files.removeQuietly(tempPath);

    ClipTrimmer* trimmer = &deps_.trimmer;
    Scheduler* scheduler = &deps_.scheduler;
    const bool posted = deps_.trimWorker.post([=] {
        TrimOutcome outcome = trimmer->trim(clip.path, tempPath, startTime, endTime, job->cancelled_);
        scheduler->post([=] {
            auto a = weak.lock();
            if (a && a->model) {
                a->model->finishTrim(job, clip, saveAsNew, tempPath, outcome, completion);
            } else {
                std::error_code ec;
                std::filesystem::remove(tempPath, ec);
            }
        });
    });
    if (!posted) return failLater(ClipError{"Corvane", -2, "Unable to initialize export session"});
    return job;
}

void ClipsViewModel::finishTrim(const std::shared_ptr<TrimJob>& job, const ClipItem& clip,
                                bool saveAsNew, const std::string& tempPath, TrimOutcome outcome,
                                const TrimCompletion& completion) {
    auto fail = [&](ClipError error) {
        deps_.files.removeQuietly(tempPath);
        if (!job->isCancelled() && completion) completion(std::nullopt, std::move(error));
    };
    if (job->isCancelled() || outcome.status == TrimOutcome::Status::Cancelled) {
        deps_.files.removeQuietly(tempPath);
        return;
    }
    if (outcome.status == TrimOutcome::Status::NoVideoInRange) {
        return fail(ClipError{"Corvane", -1, "Invalid trim range"});
    }
    if (outcome.status != TrimOutcome::Status::Ok) return fail(outcome.error);

    std::string target;
    if (saveAsNew) {
        const std::string base = clip.baseName();
        const std::string ext = clip.extension();
        for (int n = 1;; ++n) {
            if (n > 100000) return fail(ClipError{"POSIX", EEXIST, "No free name for the trimmed clip"});
            const std::string name =
                base + (n == 1 ? std::string("_trimmed") : "_trimmed_" + std::to_string(n)) +
                (ext.empty() ? std::string() : "." + ext);
            const std::string candidate = joinPath(clip.folder(), name);
            if (deps_.files.exists(candidate)) continue;
            // The move refuses to replace a file that appeared since the check: try the next name.
            const FileOpResult moved = deps_.files.moveNoReplace(tempPath, candidate);
            if (moved.status == FileOpResult::Status::Exists) continue;
            if (!moved.ok()) return fail(fileError(moved));
            target = candidate;
            break;
        }
    } else {
        const bool wasSelected = selectedClip_ && selectedClip_->path == clip.path;
        if (wasSelected) releasePlayer();
        // One atomic rename onto the original: it is either intact or replaced, never missing.
        const FileOpResult replaced = deps_.files.replace(tempPath, clip.path);
        if (!replaced.ok()) {
            if (wasSelected && selectedClip_) selectClip(selectedClip_);  // original intact: preview it again
            return fail(fileError(replaced));
        }
        target = clip.path;
    }

    reloadClips();
    for (const ClipItem& c : clips_) {
        if (c.path == target) {
            selectClip(c);
            break;
        }
    }
    if (SoundPlayer* sound = deps_.sound) deps_.scheduler.post([sound] { sound->playSavedChime(); });
    if (completion) completion(target, ClipError{});
}

}  // namespace corvane
