#pragma once

// What a real capture stream delivered, recorded from the thread that runs its callbacks: every
// frame's stamp, size and a digest of its pixels, a copy of the newest frame (tests only: the
// product never copies), and why the stream ended.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/capture/CaptureBackend.h"

namespace corvane::test {

class FrameRecord {
public:
    struct Frame {
        MediaTime pts;
        int32_t width = 0, height = 0, stride = 0;
        std::optional<WindowContent> content;
        uint64_t digest = 0;          // tells pictures apart
        std::vector<uint8_t> pixels;  // the newest frame's, when kept
        uint32_t rgbAt(int x, int y) const {
            const uint8_t* p = pixels.data() + size_t(y) * size_t(stride) + size_t(x) * 4;
            return (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
        }
    };

    explicit FrameRecord(bool keepNewestPixels = true) : keepPixels_(keepNewestPixels) {}

    VideoStreamCallbacks callbacks() {
        VideoStreamCallbacks c;
        c.onFrame = [this](const RawVideoFrame& f, const std::optional<WindowContent>& content) {
            Frame frame{f.pts, f.width, f.height, f.strideBytes, content, digest(f), {}};
            std::vector<uint8_t> pixels;
            if (keepPixels_) pixels.assign(f.pixels, f.pixels + size_t(f.strideBytes) * size_t(f.height));
            std::lock_guard lock(mutex_);
            frames_.push_back(frame);
            newest_ = std::move(frame);
            newest_.pixels = std::move(pixels);
            changed_.notify_all();
        };
        c.onStopped = [this](const std::string& reason) {
            std::lock_guard lock(mutex_);
            stops_.push_back(reason);
            changed_.notify_all();
        };
        return c;
    }
    // Waits (bounded) until `count` frames have arrived after this call; the newest one.
    std::optional<Frame> nextFrame(int count = 1, std::chrono::milliseconds limit = std::chrono::seconds(3)) {
        std::unique_lock lock(mutex_);
        const size_t target = frames_.size() + size_t(count);
        if (!changed_.wait_for(lock, limit, [&] { return frames_.size() >= target; })) return std::nullopt;
        return newest_;
    }
    // Waits (bounded) until `total` frames have arrived in all.
    bool waitForFrames(size_t total, std::chrono::milliseconds limit) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return frames_.size() >= total; });
    }
    // The first reason the stream gave for its end, waiting for one (bounded).
    std::optional<std::string> waitForStop(std::chrono::milliseconds limit = std::chrono::seconds(3)) {
        std::unique_lock lock(mutex_);
        if (!changed_.wait_for(lock, limit, [&] { return !stops_.empty(); })) return std::nullopt;
        return stops_.front();
    }
    std::vector<Frame> frames() const {  // without pixels
        std::lock_guard lock(mutex_);
        return frames_;
    }
    size_t stopCount() const {
        std::lock_guard lock(mutex_);
        return stops_.size();
    }

private:
    static uint64_t digest(const RawVideoFrame& frame) {
        uint64_t h = 1469598103934665603ull;
        for (int32_t y = 0; y < frame.height; y += 7) {
            const uint8_t* row = frame.pixels + size_t(y) * size_t(frame.strideBytes);
            for (int32_t x = 0; x < frame.width * 4; x += 12) h = (h ^ row[x]) * 1099511628211ull;
        }
        return h;
    }

    const bool keepPixels_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    Frame newest_;                    // guarded by mutex_
    std::vector<Frame> frames_;       // guarded by mutex_
    std::vector<std::string> stops_;  // guarded by mutex_
};

}  // namespace corvane::test
