#include <cstring>
#include <deque>
#include <random>

#include <gtest/gtest.h>

#include "core/replay/PacketArena.h"

namespace corvane {
namespace {

constexpr size_t kBlock = 64 * 1024;

struct Made {
    PacketBytes bytes;
    uint8_t fill;
};

PacketBytes filled(PacketArena& arena, size_t size, uint8_t fill) {
    std::vector<uint8_t> source(size, fill);
    return arena.copy(source.data(), size);
}

bool intact(const Made& m) {
    for (uint8_t b : m.bytes)
        if (b != m.fill) return false;
    return true;
}

// The buffer's pattern: packets of mixed sizes, now and then a large key frame, released oldest
// first. Every packet keeps its own bytes, blocks are packed, and the memory held follows what
// the packets still in use need, never what was made in all.
TEST(PacketArena, PacketsReleasedOldestFirstGiveTheirBlocksBack) {
    PacketArena arena(kBlock);
    std::mt19937 random(7);
    std::deque<Made> live;
    size_t liveBytes = 0, madeBytes = 0, ownBlocks = 0;
    for (int i = 0; i < 20000; ++i) {
        const bool key = i % 150 == 0;
        const size_t size = key ? kBlock / 2 + random() % kBlock : 20 + random() % 3000;
        ownBlocks += key;
        madeBytes += key ? 0 : size;
        live.push_back({filled(arena, size, uint8_t(i)), uint8_t(i)});
        liveBytes += size;
        while (liveBytes > 400 * 1024) {
            ASSERT_TRUE(intact(live.front())) << "packet made " << live.size() << " packets ago";
            liveBytes -= live.front().bytes.size();
            live.pop_front();
        }
        ASSERT_LE(arena.blocksInUse(), liveBytes / kBlock + 3) << "after packet " << i;
    }
    EXPECT_LE(arena.blocksMade(), ownBlocks + madeBytes * 105 / 100 / kBlock + 1) << "blocks packed";
    live.clear();
    EXPECT_EQ(arena.blocksInUse(), 1u) << "the block being filled";
}

TEST(PacketArena, APacketHeldLongerKeepsItsBlockAndOutlivesTheArena) {
    Made kept;
    size_t inUse = 0;
    {
        PacketArena arena(kBlock);
        kept = {filled(arena, 100, 0xAB), 0xAB};
        for (int i = 0; i < 100; ++i) filled(arena, 2000, uint8_t(i));
        inUse = arena.blocksInUse();
        EXPECT_EQ(inUse, 2u) << "the held packet's block and the one being filled";
        EXPECT_TRUE(arena.copy(nullptr, 0).empty());
    }
    EXPECT_TRUE(intact(kept));
    EXPECT_EQ(kept.bytes.size(), 100u);
}

}  // namespace
}  // namespace corvane
