// The confirmation chime: the sound itself, and playing it on the session's PulseAudio without
// blocking the caller.
#include "platform/sound/PulseChimePlayer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

#include "platform/sound/ChimeSound.h"

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
    const auto before = std::chrono::steady_clock::now();
    player.playSavedChime();
    player.playSavedChime();  // while the first is still playing: skipped
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(100));
    for (int i = 0; i < 500 && player.playedCount() == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(player.playedCount(), 1) << "the session's sound server did not take the chime";
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(player.playedCount(), 1);
}

}  // namespace
}  // namespace corvane::test
