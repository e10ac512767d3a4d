#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "core/replay/PacketBytes.h"

namespace corvane {

// Memory for the packets one encoder makes, handed out in order from large blocks.
//
// The replay buffer keeps packets for minutes and lets them go oldest first. Made one by one on
// the process heap, they shared it with the small allocations that live on (a log line, a file
// name, a list row); those settled in the holes the evicted packets left, and the heap kept
// growing around them, by about 2 MB a minute with nothing but the buffer changing. Here the
// packets made one after another share a block, and a block is handed back whole when its last
// packet goes, so the buffer's memory stays its own size.
//
// Used from one thread (the one that makes the packets); the packets may be released anywhere.
class PacketArena {
public:
    static constexpr size_t kBlockBytes = size_t(1) << 20;

    explicit PacketArena(size_t blockBytes = kBlockBytes);

    // A copy of `size` bytes.
    PacketBytes copy(const uint8_t* bytes, size_t size);

    // Room for `size` bytes, which the caller fills through `writable` before it lets anyone
    // else see the packet.
    PacketBytes allocate(size_t size, uint8_t*& writable);

    // Blocks made so far, and those still held by a packet or by the arena (any thread).
    size_t blocksMade() const { return blocksMade_; }
    size_t blocksInUse() const { return blocksInUse_->load(std::memory_order_relaxed); }

private:
    std::shared_ptr<uint8_t[]> newBlock(size_t size);

    size_t blockBytes_;
    std::shared_ptr<uint8_t[]> block_;
    size_t used_ = 0;
    size_t blocksMade_ = 0;
    // Shared with the blocks' deleters: a block may outlive the arena.
    std::shared_ptr<std::atomic<size_t>> blocksInUse_ = std::make_shared<std::atomic<size_t>>(0);
};

}  // namespace corvane
