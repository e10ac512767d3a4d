#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/sched/ThreadChecker.h"
#include "core/library/ClipFiles.h"
#include "core/library/ClipItem.h"
#include "core/library/ClipMedia.h"
#include "core/library/ClipMediaCache.h"
#include "core/sched/Scheduler.h"
#include "core/services/ClipSavedAnnouncer.h"
#include "core/services/SoundPlayer.h"

namespace corvane {

// Everything the clip library needs from the outside. References must outlive the model;
// `trash`, `fileManager`, `watcher`, `sound`, `playerFactory` may be absent (the action then does
// nothing). `trimWorker` runs cuts; it must outlive the model or drop tasks once stopped.
struct ClipsViewModelDeps {
    Scheduler& scheduler;
    ClipFiles& files;
    ClipMediaCache& mediaCache;
    ClipTrimmer& trimmer;
    Executor& trimWorker;
    ClipSavedAnnouncer* announcer = nullptr;
    ClipTrash* trash = nullptr;
    FileManagerActions* fileManager = nullptr;
    FolderWatcher* watcher = nullptr;
    SoundPlayer* sound = nullptr;
    std::function<std::unique_ptr<PreviewPlayer>(const std::string& path)> playerFactory;
    std::function<std::string()> homeFolder;  // for "~"; default: $HOME
    // Decode the selected clip's poster, `prober` on `probeWorker` (the media cache's worker, so a
    // poster and a probe never run at once). Absent: no poster. Same lifetime rules as trimWorker.
    ClipProber* prober = nullptr;
    Executor* probeWorker = nullptr;
};

// A running or finished trim. Cancelling from the main thread guarantees that the original is
// not replaced, no file is added, the temporary file is removed and the completion never runs.
class TrimJob {
public:
    void cancel() { cancelled_.store(true); }
    bool isCancelled() const { return cancelled_.load(); }

private:
    friend class ClipsViewModel;
    std::atomic<bool> cancelled_{false};
};

// The model of the clips tab: the listing of the clips folder with its rules, search, selection
// and preview, folder watch, and the rename, trash, reveal and trim operations.
//
// The preview is a poster (the selected clip's first picture, decoded on the probe worker) until
// the user first plays or seeks. Only then is a player made: a player is a whole media pipeline
// (threads, decoders, an audio stream, tens of MB that are not all returned), which every save
// would otherwise bring up by selecting the new clip. From then on each selection gets a player
// at once, as the pipeline exists anyway.
//
// Main thread only (the scheduler's thread). Views observe it through `onChange`.
class ClipsViewModel {
public:
    static constexpr Duration kReloadDelay = std::chrono::milliseconds(250);
    static constexpr const char* kDefaultOutputDir = "~/Videos/Corvane";

    // What changed; views refresh the matching parts.
    enum Change : unsigned {
        ClipsChanged = 1u << 0,      // the list (or the search, so the filtered list) changed
        SelectionChanged = 1u << 1,  // selectedClip changed (also when replaced by a fresh item)
        PlayerChanged = 1u << 2,     // player() now returns another object or none
        TotalSizeChanged = 1u << 3,
        PosterChanged = 1u << 4,     // poster() now returns another picture or none
    };
    // The poster fits into the preview (see setPosterSize), and never into more than this.
    static constexpr int kPosterMaxWidth = 960;
    static constexpr int kPosterMaxHeight = 540;

    explicit ClipsViewModel(ClipsViewModelDeps deps);
    ~ClipsViewModel();
    ClipsViewModel(const ClipsViewModel&) = delete;
    ClipsViewModel& operator=(const ClipsViewModel&) = delete;

    // --- state ---
    const std::vector<ClipItem>& clips() const { return clips_; }
    std::vector<ClipItem> filteredClips() const;
    // Whether a clip of this name is in filteredClips() (every clip while the search is blank).
    bool matchesSearch(const std::string& name) const;
    const std::optional<ClipItem>& selectedClip() const { return selectedClip_; }
    // Null until the user plays or seeks the selected clip (see the class comment).
    PreviewPlayer* player() const { return player_.get(); }
    // The selected clip's first picture while it has no player; null while decoding, for a
    // damaged clip, and while the library is hidden. Kept for one clip at a time.
    // Shared, so a view can draw the bytes as they are instead of keeping a copy.
    std::shared_ptr<const Thumbnail> poster() const { return poster_; }
    const std::string& searchText() const { return searchText_; }
    void setSearchText(std::string text);
    int64_t totalFolderSize() const { return totalFolderSize_; }
    std::string formattedTotalSize() const;
    const std::string& outputDir() const { return outputDir_; }
    // Every assignment restarts the folder watch on the (tilde-expanded) folder.
    void setOutputDir(std::string dir);
    std::string expandedOutputDir() const;
    bool isWatching() const { return watching_; }
    // The thumbnail of a listed clip, or nullptr while it is not known yet. One the cache dropped
    // is probed again (the row asking is about to be drawn); the change notice follows.
    const Thumbnail* thumbnailFor(const ClipItem& clip) const;

    // Called with a set of Change bits after each change, on the main thread.
    std::function<void(unsigned changes)> onChange;
    // Called when the duration or thumbnail of the clip at `path` became known (row update).
    std::function<void(const std::string& path)> onClipInfoChanged;
    // Case-insensitive "contains" used by the search; the view may install a locale-aware one.
    std::function<bool(const std::string& name, const std::string& needle)> nameMatcher;

    // --- operations (main thread) ---
    void startWatchingDirectory();
    void stopWatchingDirectory();
    void reloadClips();
    void selectClip(const std::optional<ClipItem>& clip);
    void pausePlayback();
    // Play or pause the selected clip (a seek: jump there), making its player first if need be.
    void togglePlayback();
    void seek(double seconds);
    // The main window is closing or being minimised.
    void windowWillClose() { pausePlayback(); }
    // Whether the library can be seen. While it cannot, it costs nothing per save: no player, no
    // poster, no folder watch, no reload and so no probe or thumbnail for clips nobody looks at.
    // A clip saved meanwhile is selected when the library is shown again, which reloads the
    // folder and asks for the selection's poster (or player, once one was used).
    // On from the start; a library whose view is not shown yet turns it off.
    void setShown(bool shown);
    // The preview's size in the screen's pixels. Posters are decoded to fit it, so the one picture
    // kept has no more pixels than are drawn. A poster shown stays when the preview shrinks
    // (drawn smaller it looks the same) and is decoded again when the preview outgrows it, the
    // old one showing until the new one arrives.
    void setPosterSize(int width, int height);
    void revealInFinder(const ClipItem& clip);
    void openClipsFolder();
    // True on success, or when the name is unchanged.
    bool renameClip(const ClipItem& clip, const std::string& newName);
    // The clip's duration in seconds (0 when the file has none that can be read): at once when
    // listed or cached, else after a probe on the probe worker, asked for ahead of the rows.
    // `done` runs on the main thread, and never once the model is gone.
    void fetchDuration(const ClipItem& clip, std::function<void(double seconds)> done);
    // Moves the clip to the trash; on failure the clip stays and the result says why.
    FileOpResult deleteClip(const ClipItem& clip);

    // Cuts [startTime, endTime) of `clip` on the trim worker, then stores it as a new clip next to
    // it or in place of it. `completion` runs on the main thread with the resulting path or an
    // error, unless the job was cancelled first.
    using TrimCompletion = std::function<void(std::optional<std::string> path, ClipError error)>;
    std::shared_ptr<TrimJob> trimClip(const ClipItem& clip, double startTime, double endTime,
                                      bool saveAsNew, TrimCompletion completion);

    // The name the next trim temporary file gets (tests use it); normally a random UUID.
    std::function<std::string()> uuidSource;

private:
    void reloadAndSelect(const std::string& path);
    ThreadChecker mainThread_;  // the constructing (main) thread
    struct Alive;
    void notify(unsigned changes);
    void releasePlayer();
    bool canPreview(const std::optional<ClipItem>& clip) const;
    PreviewPlayer* ensurePlayer();
    unsigned requestPoster(const ClipItem& clip);
    void decodePoster(const ClipItem& clip);
    unsigned dropPoster();
    void posterArrived(uint64_t ticket, Thumbnail picture);
    void scheduleReload();
    void clipInfoReady(const std::string& path);
    void finishTrim(const std::shared_ptr<TrimJob>& job, const ClipItem& clip, bool saveAsNew,
                    const std::string& tempPath, TrimOutcome outcome, const TrimCompletion& completion);
    std::string newUuid() const;

    ClipsViewModelDeps deps_;
    std::vector<ClipItem> clips_;
    std::optional<ClipItem> selectedClip_;
    std::unique_ptr<PreviewPlayer> player_;
    bool playerUsed_ = false;  // played or sought once: selections get a player from then on
    std::optional<ClipMediaCache::Key> posterKey_;  // the clip poster_ is for, or is being decoded for
    std::shared_ptr<const Thumbnail> poster_;  // never empty when set
    int posterWidth_ = kPosterMaxWidth;   // the box posters are decoded to fit
    int posterHeight_ = kPosterMaxHeight;
    // The current poster request; a decode whose ticket is no longer current is skipped, and its
    // result dropped. Read on the probe worker.
    std::shared_ptr<std::atomic<uint64_t>> posterTicket_ = std::make_shared<std::atomic<uint64_t>>(0);
    bool shown_ = true;
    std::optional<std::string> savedWhileHidden_;  // selected at the next show
    std::string searchText_;
    int64_t totalFolderSize_ = 0;
    std::string outputDir_ = kDefaultOutputDir;
    bool watching_ = false;
    uint64_t nextId_ = 1;
    ClipSavedAnnouncer::Token announcerToken_ = 0;
    std::vector<std::pair<ClipMediaCache::Key, std::function<void(double)>>> durationWaiters_;
    std::shared_ptr<Alive> alive_;
};

// Expands a leading "~" (alone or followed by "/") to `home`.
std::string expandTilde(const std::string& path, const std::string& home);
// Whether a typed clip name (already trimmed, "/" and ":" replaced) may be used. Names that start
// with "." would hide the clip from the listing; control characters make names that cannot be
// typed or shown. "." and ".." are never file names.
bool isAcceptableClipName(const std::string& name);

}  // namespace corvane
