#pragma once

namespace corvane {

// Plays the short confirmation chime after a clip is saved. Must not block the caller: the sound
// plays in the background. Callable from any thread. A machine without sound simply stays quiet.
class SoundPlayer {
public:
    virtual ~SoundPlayer() = default;
    virtual void playSavedChime() = 0;
};

}  // namespace corvane
