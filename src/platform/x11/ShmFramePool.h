#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include <xcb/shm.h>

#include "platform/x11/Xcb.h"

namespace corvane {

// One frame's worth of shared memory, attached by the X server, which writes the image into it.
struct ShmFrame {
    int shmid = -1;
    uint8_t* pixels = nullptr;
    size_t size = 0;
    xcb_shm_seg_t segment = 0;
    uint64_t lastUse = 0;   // the pool's hand-out count when it was last handed out
    bool resident = false;  // written since its memory was last given back
    ~ShmFrame();
};

// A segment of `size` bytes attached by the X server; nullptr when either side refuses.
std::unique_ptr<ShmFrame> makeShmFrame(x11::Connection& conn, size_t size);

// A fixed set of frames: the grab thread takes a free one, the video queue gives it back when the
// encoder is done with it. An empty pool means the encoder is that many frames behind.
//
// The frame given back last is handed out first, so while the encoder keeps up one frame does all
// the work. The others are only written when it falls behind (a save, a busy machine), and their
// memory would then stay in use for the life of the stream: up to five frames more, 40 MB at
// 1080p. A free frame not handed out for kIdleHandouts hand-outs gives its memory back; the X
// server fills it again when it is next used. Thread-safe.
class FramePool : public std::enable_shared_from_this<FramePool> {
public:
    static constexpr uint64_t kIdleHandouts = 100;  // two to three seconds of frames

    // nullptr when every frame is in use.
    std::shared_ptr<ShmFrame> acquire();
    void add(std::unique_ptr<ShmFrame> frame);

private:
    void releaseIdleFrames();  // with mutex_ held

    std::mutex mutex_;
    std::vector<std::unique_ptr<ShmFrame>> free_;  // guarded by mutex_; the last one is handed out next
    uint64_t handouts_ = 0;                        // guarded by mutex_
};

}  // namespace corvane
