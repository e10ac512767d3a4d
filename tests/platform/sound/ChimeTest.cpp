#include "platform/sound/PulseChimePlayer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "platform/sound/ChimeSound.h"
#include "support/QtEventWait.h"

namespace corvane::test {
namespace {

TEST(ChimeSound, ShortAudibleNeverClipsAndEndsInSilence) {
    const std::vector<float> pcm = synthesizeChime();
    ASSERT_EQ(pcm.size() % kChimeChannels, 0u);
    const double seconds = double(pcm.size() / kChimeChannels) / kChimeSampleRate;
    EXPECT_GT(seconds, 0.15);
    EXPECT_LT(seconds, 0.6);
    float peak = 0;
    for (float v : pcm) peak = std::max(peak, std::fabs(v));
    EXPECT_GT(peak, 0.1f) << "audible";
    EXPECT_LT(peak, 0.5f) << "headroom, never clipping";
    EXPECT_LT(std::fabs(pcm.front()), 1e-3f) << "no click at the start";
    EXPECT_LT(std::fabs(pcm.back()), 1e-3f) << "no click at the end";
}

TEST(PulseChime, PlaysWithoutBlockingAndSkipsOverlappingRequests) {
    PulseChimePlayer player;
    player.playSavedChime();
    player.playSavedChime();  // while the first is still playing: skipped
    EXPECT_EQ(player.playedCount(), 0) << "the caller returns before the chime has played";
    EXPECT_TRUE(waitUntil([&] { return player.playedCount() > 0; }))
        << "the session's sound server did not take the chime";
    serveEvents(100);
    EXPECT_EQ(player.playedCount(), 1);
}

}  // namespace
}  // namespace corvane::test
