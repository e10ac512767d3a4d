#include "platform/x11/ShmFramePool.h"

#include <sys/ipc.h>
#include <sys/mman.h>
#include <sys/shm.h>

namespace corvane {

ShmFrame::~ShmFrame() {
    if (pixels) shmdt(pixels);
}

std::unique_ptr<ShmFrame> makeShmFrame(x11::Connection& conn, size_t size) {
    auto frame = std::make_unique<ShmFrame>();
    frame->shmid = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
    if (frame->shmid < 0) return nullptr;
    void* addr = shmat(frame->shmid, nullptr, 0);
    if (addr == reinterpret_cast<void*>(-1)) {
        shmctl(frame->shmid, IPC_RMID, nullptr);
        return nullptr;
    }
    frame->pixels = static_cast<uint8_t*>(addr);
    frame->size = size;
    frame->segment = xcb_generate_id(conn.get());
    x11::Error error(xcb_request_check(
        conn.get(), xcb_shm_attach_checked(conn.get(), frame->segment, uint32_t(frame->shmid), 0)));
    // Marked for removal now: the memory goes away once both sides have detached.
    shmctl(frame->shmid, IPC_RMID, nullptr);
    if (error) return nullptr;
    return frame;
}

std::shared_ptr<ShmFrame> FramePool::acquire() {
    std::lock_guard lock(mutex_);
    if (free_.empty()) return nullptr;
    ShmFrame* frame = free_.back().release();
    free_.pop_back();
    frame->lastUse = ++handouts_;
    frame->resident = true;
    releaseIdleFrames();
    std::weak_ptr<FramePool> pool = weak_from_this();
    return std::shared_ptr<ShmFrame>(frame, [pool](ShmFrame* f) {
        std::unique_ptr<ShmFrame> returned(f);
        if (auto p = pool.lock()) p->add(std::move(returned));  // else freed here: the pool is gone
    });
}

void FramePool::add(std::unique_ptr<ShmFrame> frame) {
    std::lock_guard lock(mutex_);
    free_.push_back(std::move(frame));
}

void FramePool::releaseIdleFrames() {
    for (const auto& frame : free_) {
        if (!frame->resident || handouts_ - frame->lastUse < kIdleHandouts) continue;
        // Punches the pages out of the segment itself, for the X server's mapping too; the frame
        // reads as zeros until the server writes the next image into it. A kernel that refuses
        // is not asked again before the frame is used again.
        ::madvise(frame->pixels, frame->size, MADV_REMOVE);
        frame->resident = false;
    }
}

}  // namespace corvane
