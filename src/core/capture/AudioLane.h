#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/capture/AudioEncoder.h"
#include "core/replay/CorvaneRingBuffer.h"
#include "core/replay/PacketArena.h"

namespace corvane {

// Compresses the captured system audio as it arrives and appends the packets to the replay
// buffer, so a save only copies. One encoder run follows one continuous time line: a hole of more
// than 2 ms between blocks is filled with silence when it is seen, audio that overlaps what was
// already encoded is cut off, and a hole longer than kMaxFilledHole ends the run instead (the
// clip fills it with ready-made silent packets). endRun() closes a run (the audio stream stopped
// or restarts); the next block starts a new one with a new encoder.
//
// Thread: the audio queue, or any one thread at a time. The encoder factory and the buffer must
// outlive the lane.
class AudioLane {
public:
    static constexpr int64_t kHoleSamples = 96;                     // 2 ms at 48 kHz
    static constexpr int64_t kMaxFilledHole = 10 * AudioBlock::kSampleRate;  // 10 s

    AudioLane(AudioEncoderFactory& encoders, CorvaneRingBuffer& buffer);

    // Blocks that are not 48 kHz stereo, empty or without a time are dropped.
    void push(const AudioBlock& block);
    // Flushes the running encoder into the buffer. Does nothing between runs.
    void endRun();

private:
    bool startRun(int64_t firstSample);
    void encode(const float* interleaved, int64_t frames);
    void encodeSilence(int64_t frames);
    void deliver();

    AudioEncoderFactory& encoders_;
    CorvaneRingBuffer& buffer_;
    std::unique_ptr<AudioEncoder> encoder_;  // nullptr between runs
    std::shared_ptr<const AudioStreamFormat> format_;
    int64_t runStart_ = 0;  // capture-clock samples (48 kHz) of the run's first input sample
    int64_t encoded_ = 0;   // samples handed to the encoder in this run
    bool failed_ = false;  // the encoder could not be opened or failed: nothing more is encoded
    std::vector<EncodedAudio> ready_;
    std::vector<float> silence_;
    // About eleven seconds of packets a block (AAC at 192 kbit/s): the buffer's audio holds at
    // most that much more memory than its length needs.
    PacketArena packetMemory_{256 * 1024};
};

}  // namespace corvane
