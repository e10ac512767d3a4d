#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/replay/Samples.h"

namespace corvane {

// One packet as an encoder run makes it, timed in samples from the run's first input sample (the
// priming packet that every run starts with lies before 0).
struct EncodedAudio {
    std::vector<uint8_t> data;
    int64_t ptsSamples = 0;
    int32_t durationSamples = 0;
};

// One audio encoder run: 48 kHz interleaved stereo float in, compressed packets out, with no gap
// in between (the caller fills holes itself). Used from one thread at a time (the audio lane).
class AudioEncoder {
public:
    virtual ~AudioEncoder() = default;
    // The run's parameters: one object for the whole run, a new one for every run.
    virtual std::shared_ptr<const AudioStreamFormat> format() const = 0;
    // Takes `frames` frames following the previous ones and appends the packets that are complete.
    // False when the encoder failed; it then takes nothing more.
    virtual bool encode(const float* interleaved, int64_t frames, std::vector<EncodedAudio>& out) = 0;
    // Ends the run: the last frame is padded with silence and every remaining packet appended.
    virtual void finish(std::vector<EncodedAudio>& out) = 0;
};

class AudioEncoderFactory {
public:
    virtual ~AudioEncoderFactory() = default;
    // nullptr when no encoder can be opened.
    virtual std::unique_ptr<AudioEncoder> create() = 0;
};

}  // namespace corvane
