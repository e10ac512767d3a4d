#pragma once

#include <vector>

namespace corvane {

// The save confirmation chime, made here rather than shipped as a file: two soft bell tones
// (a rising fifth) with quick attacks and exponential decays, about a third of a second long.
// Interleaved stereo 32-bit float at kChimeSampleRate, peak below 0.5 (never clips).
inline constexpr int kChimeSampleRate = 48000;
inline constexpr int kChimeChannels = 2;
std::vector<float> synthesizeChime();

}  // namespace corvane
