#include "platform/wayland/PortalCast.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/capture/CaptureClock.h"

namespace corvane {

// One picture copied out of PipeWire's buffer (which must go back at once), as BGRx rows.
struct PictureSlot {
    std::vector<uint8_t> pixels;
    int32_t strideBytes = 0;
    int32_t width = 0;
    int32_t height = 0;
};

// A bounded set of pictures: the PipeWire thread fills a free one; the newest and those waiting
// on the video queue are in use. None free means the encoder is behind: the picture is dropped.
class PictureSlots : public std::enable_shared_from_this<PictureSlots> {
public:
    void setLimit(size_t limit) {
        std::lock_guard lock(mutex_);
        limit_ = limit;
    }
    std::shared_ptr<PictureSlot> acquire() {
        std::lock_guard lock(mutex_);
        PictureSlot* slot = nullptr;
        if (!free_.empty()) {
            slot = free_.back().release();
            free_.pop_back();
        } else if (total_ < limit_) {
            slot = new PictureSlot;
            ++total_;
        } else {
            return nullptr;
        }
        std::weak_ptr<PictureSlots> owner = weak_from_this();
        return std::shared_ptr<PictureSlot>(slot, [owner](PictureSlot* s) {
            if (auto slots = owner.lock()) {
                std::lock_guard lock(slots->mutex_);
                slots->free_.emplace_back(s);
            } else {
                delete s;
            }
        });
    }

private:
    std::mutex mutex_;
    std::vector<std::unique_ptr<PictureSlot>> free_;  // guarded by mutex_
    size_t total_ = 0;                                // guarded by mutex_
    size_t limit_ = 2;                                // guarded by mutex_: one newest, one filling
};

// Shared by the pacing thread and the frames waiting on the video queue.
struct CastDelivery {
    VideoStreamCallbacks callbacks;
    Executor* videoQueue = nullptr;
    int32_t fps = 30;
    int32_t queueDepth = 5;
    std::atomic<bool> stopped{false};
    std::atomic<int32_t> queued{0};
};

namespace {

void copyPicture(const PipeWirePicture& from, PictureSlot& to) {
    const int32_t rowBytes = from.width * 4;
    to.width = from.width;
    to.height = from.height;
    to.strideBytes = rowBytes;
    to.pixels.resize(size_t(rowBytes) * size_t(from.height));
    for (int32_t y = 0; y < from.height; ++y) {
        const uint8_t* src = from.pixels + size_t(y) * size_t(from.strideBytes);
        uint8_t* dst = to.pixels.data() + size_t(y) * size_t(rowBytes);
        if (!from.redFirst) {
            std::memcpy(dst, src, size_t(rowBytes));
            continue;
        }
        for (int32_t x = 0; x < rowBytes; x += 4) {
            dst[x] = src[x + 2];
            dst[x + 1] = src[x + 1];
            dst[x + 2] = src[x];
            dst[x + 3] = 0;
        }
    }
}

}  // namespace

PortalCast::PortalCast(std::shared_ptr<ScreenCastPortal> portal, std::string sessionHandle,
                       bool showsCursor)
    : portal_(std::move(portal)),
      sessionHandle_(std::move(sessionHandle)),
      cursorRequested_(showsCursor),
      slots_(std::make_shared<PictureSlots>()) {}

PortalCast::~PortalCast() { stop(); }

CaptureResult<bool> PortalCast::connect(OwnedFd remote, uint32_t nodeId) {
    std::weak_ptr<PortalCast> weak = weak_from_this();
    PipeWireScreenStream::Events events;
    events.onFormat = [weak](int32_t width, int32_t height) {
        if (auto cast = weak.lock()) cast->onFormat(width, height);
    };
    events.onPicture = [weak](const PipeWirePicture& picture) {
        if (auto cast = weak.lock()) cast->onPicture(picture);
    };
    events.onEnded = [weak](const std::string& reason) {
        if (auto cast = weak.lock()) cast->end(reason);
    };
    auto opened = PipeWireScreenStream::open(remote.release(), nodeId, std::move(events));
    if (!opened) return opened.error();
    stream_ = opened.takeValue();
    return true;
}

std::optional<std::pair<int32_t, int32_t>> PortalCast::waitForFormat(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, timeout, [&] { return size_.has_value() || ended_ || stopped_; });
    if (ended_ || stopped_) return std::nullopt;
    return size_;
}

void PortalCast::onFormat(int32_t width, int32_t height) {
    std::unique_lock lock(mutex_);
    if (!size_) {
        size_ = std::make_pair(width, height);
        changed_.notify_all();
        return;
    }
    if (size_->first == width && size_->second == height) return;
    std::string reason = "The shared screen changed size from " + std::to_string(size_->first) + "x" +
                         std::to_string(size_->second) + " to " + std::to_string(width) + "x" +
                         std::to_string(height);
    lock.unlock();
    end(reason);
}

void PortalCast::onPicture(const PipeWirePicture& picture) {
    {
        std::lock_guard lock(mutex_);
        if (ended_ || stopped_ || !size_) return;
        // A picture of another size than agreed on is a format change on its way: skip it.
        if (picture.width != size_->first || picture.height != size_->second) return;
    }
    std::shared_ptr<PictureSlot> slot = slots_->acquire();
    if (!slot) return;  // every slot is queued for the encoder: drop this one
    copyPicture(picture, *slot);
    std::lock_guard lock(mutex_);
    newest_ = std::move(slot);
}

void PortalCast::beginDelivery(const VideoStreamConfig& config, Executor& videoQueue,
                               VideoStreamCallbacks callbacks) {
    auto delivery = std::make_shared<CastDelivery>();
    delivery->callbacks = std::move(callbacks);
    delivery->videoQueue = &videoQueue;
    delivery->fps = std::max(1, config.fps);
    delivery->queueDepth = std::max(1, config.queueDepth);
    // The newest, the one being filled, and those waiting on the queue.
    slots_->setLimit(size_t(delivery->queueDepth) + 2);
    {
        std::lock_guard lock(mutex_);
        delivery_ = delivery;
        if (ended_ || stopped_) delivery->stopped = true;
        // Ended between the grant and now: the new stream reports it, as it would have later.
        if (ended_ && !stopped_ && delivery->callbacks.onStopped) delivery->callbacks.onStopped(endReason_);
    }
    pacer_ = std::thread([this, delivery] { pace(delivery); });
}

void PortalCast::pace(const std::shared_ptr<CastDelivery>& delivery) {
    const auto interval = std::chrono::nanoseconds(1'000'000'000LL / delivery->fps);
    const MediaTime frameDuration(interval.count() / 1000, kCaptureClockTimescale);
    // Frames are stamped with their tick, not with the moment this thread woke up: a constant
    // rate on the capture clock, whatever the scheduling jitter.
    auto tick = std::chrono::steady_clock::now();
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait_until(lock, tick, [&] { return stopped_ || ended_; });
        if (stopped_ || ended_) break;
        auto now = std::chrono::steady_clock::now();
        if (now - tick > interval) tick = now;  // fell behind by a frame or more: skip, don't burst
        MediaTime pts = captureClockTime(tick);
        tick += interval;
        std::shared_ptr<PictureSlot> picture = newest_;
        if (!picture) continue;  // nothing on screen yet
        if (delivery->queued.load() >= delivery->queueDepth) continue;  // the encoder is behind
        ++delivery->queued;
        bool posted = delivery->videoQueue->post([delivery, picture, pts, frameDuration] {
            --delivery->queued;
            if (delivery->stopped.load()) return;
            RawVideoFrame frame;
            frame.pixels = picture->pixels.data();
            frame.strideBytes = picture->strideBytes;
            frame.width = picture->width;
            frame.height = picture->height;
            frame.format = RawPixelFormat::BGR0;
            frame.pts = pts;
            frame.duration = frameDuration;
            if (delivery->callbacks.onFrame) delivery->callbacks.onFrame(frame, std::nullopt);
        });
        if (!posted) --delivery->queued;
    }
}

void PortalCast::end(const std::string& reason) {
    std::lock_guard lock(mutex_);
    if (ended_ || stopped_) return;
    ended_ = true;
    endReason_ = reason;
    changed_.notify_all();
    if (!delivery_) return;
    delivery_->stopped = true;
    if (delivery_->callbacks.onStopped) delivery_->callbacks.onStopped(reason);
}

bool PortalCast::hasEnded() const {
    std::lock_guard lock(mutex_);
    return ended_ || stopped_;
}

void PortalCast::stop() {
    {
        std::lock_guard lock(mutex_);
        if (stopped_) return;
        stopped_ = true;
        if (delivery_) delivery_->stopped = true;
        newest_.reset();
    }
    changed_.notify_all();
    if (pacer_.joinable()) pacer_.join();
    stream_.reset();
    if (portal_) portal_->closeSession(sessionHandle_);
}

void PortalCastRegistry::add(const std::shared_ptr<PortalCast>& cast) {
    std::lock_guard lock(mutex_);
    std::erase_if(casts_, [](const auto& entry) { return entry.second.expired(); });
    casts_[cast->sessionHandle()] = cast;
}

std::shared_ptr<PortalCast> PortalCastRegistry::find(const std::string& sessionHandle) {
    std::lock_guard lock(mutex_);
    auto it = casts_.find(sessionHandle);
    return it == casts_.end() ? nullptr : it->second.lock();
}

}  // namespace corvane
