#pragma once

#include <deque>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <tuple>

#include "core/library/ClipMedia.h"
#include "core/sched/Clock.h"
#include "core/sched/Scheduler.h"

namespace corvane {

// Durations and thumbnails of clips, probed on a worker and kept while the file is unchanged.
// Durations are kept for every clip; thumbnails only for the kThumbnailsKept most recently used,
// so a library of thousands of clips costs no more memory than the few rows on screen. A dropped
// thumbnail is probed again when a row asks for it.
//
// Owned and used on the main thread. Entries are keyed by path, size and modification time, so
// a file that is rewritten (a clip still being saved, a trim replacing it) is probed again.
// Probes run one at a time on `worker`, most recently requested first, so the rows the user
// sees at the top of the list fill first. Each finished probe hops back through `main` and calls
// `onReady(path)`. Destroying the cache drops results still in flight; the worker must outlive
// the cache's pending probes or drop them (a stopped SerialQueue does).
class ClipMediaCache {
public:
    struct Key {
        std::string path;
        int64_t size = 0;
        int64_t modifiedNs = 0;
        friend auto operator<=>(const Key&, const Key&) = default;
    };

    ClipMediaCache(ClipProber& prober, Executor& worker, Executor& main);
    ~ClipMediaCache();
    ClipMediaCache(const ClipMediaCache&) = delete;
    ClipMediaCache& operator=(const ClipMediaCache&) = delete;

    static Key keyFor(const std::string& path, int64_t size, WallTime modified);

    // More than the rows any screen shows at once (48 px each: 96 rows are 4608 px), or the rows
    // on screen would keep pushing each other out and be probed again and again.
    static constexpr size_t kThumbnailsKept = 96;

    // The cached result, or nullptr while unknown. Its thumbnail may have been dropped: ask
    // thumbnail() for it.
    const ClipMediaInfo* find(const Key& key) const;
    // The clip's thumbnail, or nullptr while there is none. One that was dropped to save memory
    // is probed again, and onReady follows.
    const Thumbnail* thumbnail(const Key& key);
    // Queues a probe unless one is cached or queued. Requests made later run earlier.
    void request(const Key& key);
    // Drops entries and queued probes whose path is not in `livePaths` (after a reload).
    void retainOnly(const std::set<std::string>& livePaths);

    void setOnReady(std::function<void(const std::string& path)> onReady) {
        onReady_ = std::move(onReady);
    }
    size_t size() const { return entries_.size(); }

private:
    struct Shared;
    void enqueue(const Key& key);
    void pump();
    void finished(const Key& key, ClipMediaInfo info);
    void keepThumbnail(const Key& key);

    ClipProber& prober_;
    Executor& worker_;
    Executor& main_;
    std::map<Key, ClipMediaInfo> entries_;
    std::list<Key> thumbnailUse_;    // keys whose entries hold a thumbnail, most recently used first
    std::set<Key> thumbnailDropped_; // entries whose thumbnail was dropped
    std::set<Key> askedFor_;         // rows wait for these thumbnails
    std::deque<Key> queue_;          // front runs next
    std::set<Key> queued_;
    bool probing_ = false;           // one probe on the worker at a time
    bool pumpPosted_ = false;
    std::function<void(const std::string&)> onReady_;
    std::shared_ptr<Shared> shared_; // lets in-flight results find out the cache is gone
};

}  // namespace corvane
