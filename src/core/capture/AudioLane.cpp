#include "core/capture/AudioLane.h"

#include <algorithm>

#include "core/log/Log.h"

namespace corvane {
namespace {

constexpr int64_t kSilenceChunkFrames = 4800;  // 0.1 s

}  // namespace

AudioLane::AudioLane(AudioEncoderFactory& encoders, CorvaneRingBuffer& buffer)
    : encoders_(encoders), buffer_(buffer) {}

void AudioLane::push(const AudioBlock& block) {
    if (block.sampleRate != AudioBlock::kSampleRate || block.channels != AudioBlock::kChannels) return;
    int64_t frames = block.frameCount();
    const MediaTime at = block.pts.convertedTo(AudioBlock::kSampleRate);
    if (failed_ || frames <= 0 || !at.isValid()) return;
    int64_t first = at.value();
    const float* samples = block.samples.data();

    if (encoder_) {
        const int64_t expected = runStart_ + encoded_;
        const int64_t hole = first - expected;
        if (hole > kMaxFilledHole) {
            endRun();
        } else if (hole > kHoleSamples) {
            encodeSilence(hole);
        } else if (hole < -kHoleSamples) {
            // Starts before the end of what is encoded (a restarted stream stamped a little
            // early): only the new part goes on.
            const int64_t overlap = std::min(-hole, frames);
            samples += overlap * AudioBlock::kChannels;
            frames -= overlap;
            if (frames == 0) return;
        }
        // Within 2 ms the block simply follows on: stamps of one stream come from its sample count.
    }
    if (!encoder_ && !startRun(first)) return;
    encode(samples, frames);
    deliver();
}

void AudioLane::endRun() {
    if (!encoder_) return;
    encoder_->finish(ready_);
    deliver();
    encoder_.reset();
}

bool AudioLane::startRun(int64_t firstSample) {
    encoder_ = encoders_.create();
    if (!encoder_) {
        logLine("Audio encoder unavailable; clips get silence.");
        failed_ = true;
        return false;
    }
    format_ = encoder_->format();
    runStart_ = firstSample;
    encoded_ = 0;
    return true;
}

void AudioLane::encode(const float* interleaved, int64_t frames) {
    if (!encoder_->encode(interleaved, frames, ready_)) {
        logLine("Audio encoding failed; clips get silence until capture restarts.");
        failed_ = true;
        deliver();
        encoder_.reset();
        return;
    }
    encoded_ += frames;
}

void AudioLane::encodeSilence(int64_t frames) {
    silence_.assign(size_t(std::min(frames, kSilenceChunkFrames)) * AudioBlock::kChannels, 0.0f);
    while (frames > 0 && encoder_) {
        const int64_t chunk = std::min(frames, kSilenceChunkFrames);
        encode(silence_.data(), chunk);
        frames -= chunk;
    }
}

void AudioLane::deliver() {
    for (EncodedAudio& encoded : ready_) {
        auto packet = std::make_shared<AudioPacket>();
        packet->data = packetMemory_.copy(encoded.data.data(), encoded.data.size());
        packet->pts = MediaTime(runStart_ + encoded.ptsSamples, AudioBlock::kSampleRate);
        packet->duration = MediaTime(encoded.durationSamples, AudioBlock::kSampleRate);
        packet->format = format_;
        buffer_.appendAudio(std::move(packet));
    }
    ready_.clear();
}

}  // namespace corvane
