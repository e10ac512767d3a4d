#include "core/library/ClipMediaCache.h"

#include <algorithm>

namespace corvane {

struct ClipMediaCache::Shared {
    ClipMediaCache* cache;  // main thread only; null once the cache is destroyed
};

ClipMediaCache::ClipMediaCache(ClipProber& prober, Executor& worker, Executor& main)
    : prober_(prober), worker_(worker), main_(main), shared_(std::make_shared<Shared>(Shared{this})) {}

ClipMediaCache::~ClipMediaCache() { shared_->cache = nullptr; }

ClipMediaCache::Key ClipMediaCache::keyFor(const std::string& path, int64_t size, WallTime modified) {
    return Key{path, size,
               std::chrono::duration_cast<std::chrono::nanoseconds>(modified.time_since_epoch()).count()};
}

const ClipMediaInfo* ClipMediaCache::find(const Key& key) const {
    const auto it = entries_.find(key);
    return it == entries_.end() ? nullptr : &it->second;
}

const Thumbnail* ClipMediaCache::thumbnail(const Key& key) {
    const auto it = entries_.find(key);
    if (it == entries_.end() || thumbnailDropped_.count(key)) {
        askedFor_.insert(key);  // a row waits for it: it goes first in the kept ones
        if (it != entries_.end()) enqueue(key);
        return nullptr;
    }
    if (it->second.thumbnail.empty()) return nullptr;
    const auto used = std::find(thumbnailUse_.begin(), thumbnailUse_.end(), key);
    if (used != thumbnailUse_.end()) thumbnailUse_.splice(thumbnailUse_.begin(), thumbnailUse_, used);
    return &it->second.thumbnail;
}

void ClipMediaCache::request(const Key& key) {
    if (entries_.count(key)) return;
    enqueue(key);
}

void ClipMediaCache::enqueue(const Key& key) {
    if (queued_.count(key)) {
        // Move it to the front: the latest request is the most wanted. A key that is queued but
        // not in the queue is being probed right now.
        const auto it = std::find(queue_.begin(), queue_.end(), key);
        if (it == queue_.end()) return;
        queue_.erase(it);
    } else {
        queued_.insert(key);
    }
    queue_.push_front(key);
    // Start on the next turn of the main loop, once the caller has queued everything it wants:
    // otherwise the first request (the bottom row) would always be probed first.
    if (probing_ || pumpPosted_) return;
    pumpPosted_ = true;
    std::weak_ptr<Shared> weak = shared_;
    main_.post([weak] {
        auto shared = weak.lock();
        if (!shared || !shared->cache) return;
        shared->cache->pumpPosted_ = false;
        shared->cache->pump();
    });
}

void ClipMediaCache::retainOnly(const std::set<std::string>& livePaths) {
    std::erase_if(entries_, [&](const auto& e) { return !livePaths.count(e.first.path); });
    std::erase_if(thumbnailUse_, [&](const Key& k) { return !livePaths.count(k.path); });
    std::erase_if(thumbnailDropped_, [&](const Key& k) { return !livePaths.count(k.path); });
    std::erase_if(askedFor_, [&](const Key& k) { return !livePaths.count(k.path); });
    std::erase_if(queue_, [&](const Key& k) {
        if (livePaths.count(k.path)) return false;
        queued_.erase(k);
        return true;
    });
}

void ClipMediaCache::pump() {
    if (probing_ || queue_.empty()) return;
    Key key = queue_.front();
    queue_.pop_front();
    probing_ = true;
    std::weak_ptr<Shared> weak = shared_;
    ClipProber* prober = &prober_;
    Executor* main = &main_;
    const bool posted = worker_.post([weak, prober, main, key]() {
        ClipMediaInfo info = prober->probe(key.path);
        main->post([weak, key, info = std::move(info)]() mutable {
            auto shared = weak.lock();
            if (shared && shared->cache) shared->cache->finished(key, std::move(info));
        });
    });
    if (!posted) {
        // The worker is gone (shutting down): leave the rest unprobed.
        probing_ = false;
        queued_.erase(key);
    }
}

void ClipMediaCache::finished(const Key& key, ClipMediaInfo info) {
    probing_ = false;
    if (queued_.erase(key)) {
        entries_[key] = std::move(info);
        keepThumbnail(key);
        if (onReady_) onReady_(key.path);
    }
    pump();
}

void ClipMediaCache::keepThumbnail(const Key& key) {
    thumbnailDropped_.erase(key);
    thumbnailUse_.remove(key);
    const bool asked = askedFor_.erase(key) > 0;
    if (entries_[key].thumbnail.empty()) return;
    // One no row has asked for yet (probed for its duration, below the rows on screen) is the
    // first to go: a big library's first load keeps the thumbnails of the top rows.
    if (asked) {
        thumbnailUse_.push_front(key);
    } else {
        thumbnailUse_.push_back(key);
    }
    while (thumbnailUse_.size() > kThumbnailsKept) {
        const Key oldest = thumbnailUse_.back();
        thumbnailUse_.pop_back();
        const auto it = entries_.find(oldest);
        if (it == entries_.end()) continue;
        it->second.thumbnail = Thumbnail();  // frees the bytes
        thumbnailDropped_.insert(oldest);
    }
}

}  // namespace corvane
