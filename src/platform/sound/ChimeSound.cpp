#include "platform/sound/ChimeSound.h"

#include <cmath>
#include <numbers>

namespace corvane {
namespace {

struct Tone {
    double startSeconds;
    double frequencyHz;
    double amplitude;
    double decayPerSecond;
};

constexpr Tone kTones[] = {
    {0.00, 1318.51, 0.22, 11.0},  // E6
    {0.09, 1975.53, 0.18, 9.0},   // B6
};
constexpr double kLengthSeconds = 0.36;
constexpr double kAttackSeconds = 0.004;  // avoids a click at each onset

}  // namespace

std::vector<float> synthesizeChime() {
    const int frames = int(kLengthSeconds * kChimeSampleRate);
    std::vector<float> pcm(size_t(frames) * kChimeChannels, 0.0f);
    for (int i = 0; i < frames; ++i) {
        const double t = double(i) / kChimeSampleRate;
        double sample = 0.0;
        for (const Tone& tone : kTones) {
            const double local = t - tone.startSeconds;
            if (local < 0) continue;
            const double attack = std::min(1.0, local / kAttackSeconds);
            const double envelope = attack * std::exp(-tone.decayPerSecond * local);
            // A quiet octave partial gives the tone a bell-like colour.
            sample += tone.amplitude * envelope *
                      (std::sin(2 * std::numbers::pi * tone.frequencyHz * local) +
                       0.25 * std::sin(4 * std::numbers::pi * tone.frequencyHz * local));
        }
        // Fade the tail to exact silence.
        const double tail = std::min(1.0, (kLengthSeconds - t) / 0.03);
        const float value = float(sample * tail);
        for (int c = 0; c < kChimeChannels; ++c) pcm[size_t(i) * kChimeChannels + c] = value;
    }
    return pcm;
}

}  // namespace corvane
