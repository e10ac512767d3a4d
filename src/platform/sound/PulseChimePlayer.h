#pragma once

#include <atomic>
#include <vector>

#include "core/sched/SerialQueue.h"
#include "core/services/SoundPlayer.h"

namespace corvane {

// Plays the confirmation chime on the default PulseAudio sink from a worker thread of its own.
// playSavedChime() returns at once from any thread; a chime asked for while one is still playing
// is skipped rather than queued. Without an audio server nothing is heard and nothing is logged
// more than once. Destruction waits for a chime that is playing (a third of a second).
class PulseChimePlayer final : public SoundPlayer {
public:
    PulseChimePlayer();
    ~PulseChimePlayer() override;

    void playSavedChime() override;
    // Chimes that reached the sound server in full (tests).
    int playedCount() const { return played_.load(); }

private:
    void playNow();

    const std::vector<float> pcm_;
    std::atomic<bool> busy_{false};
    std::atomic<int> played_{0};
    std::atomic<bool> reportedFailure_{false};
    SerialQueue worker_;  // last member: stopped first, before the samples go
};

}  // namespace corvane
