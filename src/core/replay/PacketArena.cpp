#include "core/replay/PacketArena.h"

#include <cstring>

namespace corvane {

PacketArena::PacketArena(size_t blockBytes) : blockBytes_(blockBytes) {}

PacketBytes PacketArena::copy(const uint8_t* bytes, size_t size) {
    uint8_t* writable = nullptr;
    PacketBytes packet = allocate(size, writable);
    if (size > 0) std::memcpy(writable, bytes, size);
    return packet;
}

PacketBytes PacketArena::allocate(size_t size, uint8_t*& writable) {
    // A packet of more than a quarter block (a key frame of a large picture) gets a block of its
    // own: fitted into the shared one it could leave most of the block's end unused.
    if (size > blockBytes_ / 4) {
        std::shared_ptr<uint8_t[]> own = newBlock(size);
        writable = own.get();
        return PacketBytes(std::move(own), writable, size);
    }
    if (!block_ || blockBytes_ - used_ < size) {
        block_ = newBlock(blockBytes_);
        used_ = 0;
    }
    writable = block_.get() + used_;
    used_ += size;
    return PacketBytes(block_, writable, size);
}

std::shared_ptr<uint8_t[]> PacketArena::newBlock(size_t size) {
    ++blocksMade_;
    blocksInUse_->fetch_add(1, std::memory_order_relaxed);
    return std::shared_ptr<uint8_t[]>(new uint8_t[size], [inUse = blocksInUse_](uint8_t* block) {
        inUse->fetch_sub(1, std::memory_order_relaxed);
        delete[] block;
    });
}

}  // namespace corvane
