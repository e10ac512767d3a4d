#include "core/replay/CorvaneRingBuffer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/log/Log.h"

namespace corvane {
namespace {

constexpr double kMinDurationSeconds = 5.0;
constexpr double kStaleSeconds = 60.0;
constexpr double kMinAvailableSeconds = 0.5;
constexpr double kMinClipSeconds = 0.2;
constexpr double kAudioLeadSeconds = 3.0;
constexpr double kSilenceThresholdSeconds = 0.002;
constexpr double kSilenceChunkSeconds = 0.5;
// A start keyframe further than this before the target lies before a hole in the stream
// (regular keyframes come at least every second).
constexpr double kGapMendSeconds = 2.0;
// Reservation covers at most this much history; longer buffers grow as they fill.
constexpr double kMaxReservedSeconds = 600.0;

// Written so that NaN falls to the floor too.
double flooredDuration(double seconds) {
    return seconds >= kMinDurationSeconds ? seconds : kMinDurationSeconds;
}

double secondsBetween(MediaTime later, MediaTime earlier) { return (later - earlier).seconds(); }

std::string formatSeconds(const char* pattern, double value) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

struct PendingHole {
    MediaTime start;
    MediaTime duration;
    size_t beforeIndex;  // position in the collected audio list where the silence goes
};

}  // namespace

size_t CorvaneRingBuffer::videoReservation(double maxDurationSeconds) {
    const double seconds = std::min(flooredDuration(maxDurationSeconds), kMaxReservedSeconds);
    return std::max<size_t>(size_t(seconds * 60) + 600, 8500);
}

size_t CorvaneRingBuffer::audioReservation(double maxDurationSeconds) {
    const double seconds = std::min(flooredDuration(maxDurationSeconds), kMaxReservedSeconds);
    return std::max<size_t>(size_t(seconds * 50) + 500, 8000);
}

CorvaneRingBuffer::CorvaneRingBuffer(double maxDurationSeconds, const Clock& clock)
    : clock_(clock), maxDurationSeconds_(flooredDuration(maxDurationSeconds)) {
    videoSamples_.reserve(videoReservation(maxDurationSeconds_));
    audioSamples_.reserve(audioReservation(maxDurationSeconds_));
}

void CorvaneRingBuffer::appendVideo(VideoSampleRef packet, bool isKeyframe) {
    if (!packet || !packet->pts.isValid()) return;
    VideoSampleItem item;
    item.pts = packet->pts;
    item.isKeyframe = isKeyframe;
    item.dataSize = int64_t(packet->data.size());
    item.wallClock = clock_.wallNow();
    const uint64_t generation = packet->encoderGeneration;
    item.sampleBuffer = std::move(packet);

    Graveyard released;  // declared before the lock: freed after it is released
    std::lock_guard lock(mutex_);
    if (generation < newestGeneration_) return;  // late output of an encoder already replaced
    if (generation > newestGeneration_) {
        // Whatever arrived since a restart's clear came from the encoder being replaced.
        if (clearedSinceNewestGeneration_) {
            released.video.swap(videoSamples_);
            videoSamples_.reserve(released.video.capacity());
            totalVideoBytes_ = 0;
        }
        newestGeneration_ = generation;
        clearedSinceNewestGeneration_ = false;
    }
    totalVideoBytes_ += item.dataSize;
    videoSamples_.push_back(std::move(item));
    pruneVideoLocked(released);
}

void CorvaneRingBuffer::appendAudio(const AudioBlock& block) {
    if (block.sampleRate != AudioBlock::kSampleRate || block.channels != AudioBlock::kChannels) return;
    const int64_t frames = block.frameCount();
    if (frames <= 0 || !block.pts.isValid()) return;

    auto copy = std::make_shared<AudioBlock>();
    copy->samples.assign(block.samples.begin(), block.samples.begin() + frames * block.channels);
    copy->pts = block.pts;
    AudioSampleItem item;
    item.pts = block.pts;
    item.duration = MediaTime::fromCount(frames, AudioBlock::kSampleRate);
    item.dataSize = int64_t(copy->samples.size() * sizeof(float));
    item.wallClock = clock_.wallNow();
    item.sampleBuffer = std::move(copy);

    Graveyard released;
    std::lock_guard lock(mutex_);
    totalAudioBytes_ += item.dataSize;
    audioSamples_.push_back(std::move(item));
    pruneAudioLocked(released);
}

void CorvaneRingBuffer::updateMaxDuration(double seconds) {
    Graveyard released;
    std::lock_guard lock(mutex_);
    maxDurationSeconds_ = flooredDuration(seconds);
    pruneVideoLocked(released);
    pruneAudioLocked(released);
}

double CorvaneRingBuffer::maxDurationSeconds() const {
    std::lock_guard lock(mutex_);
    return maxDurationSeconds_;
}

void CorvaneRingBuffer::clear() {
    Graveyard released;
    std::lock_guard lock(mutex_);
    clearLocked(released);
}

void CorvaneRingBuffer::clearLocked(Graveyard& released) {
    // The samples are freed by the caller after unlocking; the lists keep their capacity.
    released.video.swap(videoSamples_);
    released.audio.swap(audioSamples_);
    videoSamples_.reserve(released.video.capacity());
    audioSamples_.reserve(released.audio.capacity());
    totalVideoBytes_ = 0;
    totalAudioBytes_ = 0;
    clearedSinceNewestGeneration_ = true;
}

RingBufferStatus CorvaneRingBuffer::getStatus() const {
    std::lock_guard lock(mutex_);
    RingBufferStatus status;
    if (videoSamples_.empty()) return status;
    const double span = secondsBetween(videoSamples_.back().pts, videoSamples_.front().pts);
    status.duration = span > 0 ? span : 0;  // also drops NaN
    status.memoryBytes = uint64_t(totalVideoBytes_ + totalAudioBytes_);
    status.videoCount = videoSamples_.size();
    status.audioCount = audioSamples_.size();
    return status;
}

void CorvaneRingBuffer::pruneVideoLocked(Graveyard& released) {
    if (videoSamples_.empty()) return;
    const MediaTime newest = videoSamples_.back().pts;
    const double span = secondsBetween(newest, videoSamples_.front().pts);
    if (!(span > maxDurationSeconds_)) return;
    const MediaTime cutoff = newest - MediaTime::fromSeconds(maxDurationSeconds_, newest.timescale());

    std::optional<size_t> candidate;  // the latest keyframe at or before the cutoff
    size_t removeCount = 0;
    for (size_t i = 0; i < videoSamples_.size(); ++i) {
        const VideoSampleItem& item = videoSamples_[i];
        if (!item.isKeyframe) continue;
        if (cutoff.isValid() && item.pts <= cutoff) {
            candidate = i;
        } else {
            // No keyframe at or before the cutoff: the undecodable frames before this one go.
            if (!candidate) removeCount = i;
            break;
        }
    }
    if (candidate) removeCount = *candidate;
    if (removeCount == 0 || removeCount >= videoSamples_.size()) return;
    int64_t bytes = 0;
    for (size_t i = 0; i < removeCount; ++i) bytes += videoSamples_[i].dataSize;
    totalVideoBytes_ = std::max<int64_t>(totalVideoBytes_ - bytes, 0);
    released.video.insert(released.video.end(), std::make_move_iterator(videoSamples_.begin()),
                          std::make_move_iterator(videoSamples_.begin() + ptrdiff_t(removeCount)));
    videoSamples_.erase(videoSamples_.begin(), videoSamples_.begin() + ptrdiff_t(removeCount));
}

void CorvaneRingBuffer::pruneAudioLocked(Graveyard& released) {
    auto removeFront = [this, &released](size_t count) {
        if (count == 0 || count >= audioSamples_.size()) return;
        int64_t bytes = 0;
        for (size_t i = 0; i < count; ++i) bytes += audioSamples_[i].dataSize;
        totalAudioBytes_ = std::max<int64_t>(totalAudioBytes_ - bytes, 0);
        released.audio.insert(released.audio.end(), std::make_move_iterator(audioSamples_.begin()),
                              std::make_move_iterator(audioSamples_.begin() + ptrdiff_t(count)));
        audioSamples_.erase(audioSamples_.begin(), audioSamples_.begin() + ptrdiff_t(count));
    };
    auto countBefore = [this](MediaTime limit) {
        size_t count = 0;
        while (count < audioSamples_.size() && audioSamples_[count].pts < limit) ++count;
        return count;
    };

    if (!videoSamples_.empty()) {
        const MediaTime oldest = videoSamples_.front().pts;
        const MediaTime anchor = oldest - MediaTime::fromSeconds(kAudioLeadSeconds, oldest.timescale());
        if (anchor.isValid()) removeFront(countBefore(anchor));
    }
    if (!audioSamples_.empty()) {
        const MediaTime newest = audioSamples_.back().pts;
        const double span = secondsBetween(newest, audioSamples_.front().pts);
        if (span > maxDurationSeconds_ + kAudioLeadSeconds) {
            const MediaTime cutoff =
                newest - MediaTime::fromSeconds(maxDurationSeconds_ + 2.0, newest.timescale());
            if (cutoff.isValid()) removeFront(countBefore(cutoff));
        }
    }
}

ClipSelection CorvaneRingBuffer::getSamplesForClip(double durationSeconds, bool recordAudio) {
    ClipSelection result;
    auto refuse = [&result](ClipRefusal refusal, std::string message) {
        result.refusal = refusal;
        result.message = std::move(message);
        if (!result.message.empty()) logLine(result.message);
        return std::move(result);
    };

    ClipSamples clip;
    std::vector<PendingHole> holes;
    Graveyard released;  // outlives the lock below
    {
        std::unique_lock lock(mutex_);
        if (videoSamples_.empty()) {
            lock.unlock();
            return refuse(ClipRefusal::Empty, {});
        }
        const VideoSampleItem& newest = videoSamples_.back();

        const double age = toSeconds(clock_.wallNow() - newest.wallClock);
        if (age > kStaleSeconds) {
            clearLocked(released);
            lock.unlock();
            return refuse(ClipRefusal::Stale,
                          "Buffer is stale (last frame was received " + std::to_string(int64_t(age)) +
                              "s ago). Clearing stale buffer.");
        }

        // A clip never spans two stream formats: only the newest encoder's run counts.
        size_t runStart = videoSamples_.size() - 1;
        while (runStart > 0 && videoSamples_[runStart - 1].sampleBuffer->format ==
                                   newest.sampleBuffer->format)
            --runStart;

        double available = secondsBetween(newest.pts, videoSamples_[runStart].pts);
        if (!(available > 0)) available = 0;
        if (available < kMinAvailableSeconds) {
            lock.unlock();
            return refuse(ClipRefusal::NotEnoughVideo,
                          formatSeconds("Not enough video buffered yet (available: %.2fs < 0.5s)",
                                        available));
        }

        const double window = std::clamp(std::isnan(durationSeconds) ? available : durationSeconds,
                                         0.0, available);
        const MediaTime target = newest.pts - MediaTime::fromSeconds(window, newest.pts.timescale());

        std::optional<size_t> start;
        for (size_t i = videoSamples_.size(); i-- > runStart;) {
            if (videoSamples_[i].isKeyframe && videoSamples_[i].pts <= target) {
                start = i;
                break;
            }
        }
        if (start && secondsBetween(target, videoSamples_[*start].pts) > kGapMendSeconds) {
            // The keyframe lies before a stretch without frames (stalled capture, resume from
            // suspend): starting there would add the hole as frozen picture and silence.
            for (size_t i = *start + 1; i < videoSamples_.size(); ++i) {
                if (videoSamples_[i].isKeyframe) {
                    start = i;
                    break;
                }
            }
        }
        if (!start) {
            for (size_t i = runStart; i < videoSamples_.size(); ++i) {
                if (videoSamples_[i].isKeyframe) {
                    start = i;
                    break;
                }
            }
        }
        if (!start) {
            lock.unlock();
            return refuse(ClipRefusal::NoKeyframe, "No keyframe found in buffer, cannot create valid clip");
        }

        const size_t frameCount = videoSamples_.size() - *start;
        if (frameCount < 2) {
            lock.unlock();
            return refuse(ClipRefusal::TooFewFrames, "Not enough video frames in selected range (" +
                                                         std::to_string(frameCount) + " frames)");
        }

        clip.startPTS = videoSamples_[*start].pts;
        const double span = secondsBetween(newest.pts, clip.startPTS);
        clip.actualDuration = span > 0.1 ? span : 0.1;
        if (clip.actualDuration < kMinClipSeconds) {
            const double shown = clip.actualDuration;
            lock.unlock();
            return refuse(ClipRefusal::TooShort,
                          formatSeconds("Selected clip duration too short (%.2fs)", shown));
        }

        clip.video.reserve(frameCount);
        for (size_t i = *start; i < videoSamples_.size(); ++i)
            clip.video.push_back(videoSamples_[i].sampleBuffer);

        if (recordAudio) {
            MediaTime cursor = clip.startPTS;
            for (const AudioSampleItem& item : audioSamples_) {
                if (item.pts < clip.startPTS) continue;  // starts before the clip: left out whole
                if (item.pts >= newest.pts) break;
                const MediaTime gap = item.pts - cursor;
                if (gap.seconds() > kSilenceThresholdSeconds)
                    holes.push_back({cursor, gap, clip.audio.size()});
                clip.audio.push_back(item.sampleBuffer);
                cursor = max(cursor, item.pts + item.duration);
            }
            const MediaTime tail = newest.pts - cursor;
            if (tail.seconds() > kSilenceThresholdSeconds)
                holes.push_back({cursor, tail, clip.audio.size()});
        }
    }

    // Silence is made after the lock is released so appends never wait for it.
    if (!holes.empty()) {
        std::vector<AudioSampleRef> merged;
        size_t next = 0;
        for (const PendingHole& hole : holes) {
            for (; next < hole.beforeIndex; ++next) merged.push_back(std::move(clip.audio[next]));
            auto silence = createSilenceAudioBuffers(hole.start, hole.duration, kSilenceChunkSeconds);
            merged.insert(merged.end(), silence.begin(), silence.end());
        }
        for (; next < clip.audio.size(); ++next) merged.push_back(std::move(clip.audio[next]));
        clip.audio = std::move(merged);
    }
    result.clip = std::move(clip);
    return result;
}

std::vector<AudioSampleRef> createSilenceAudioBuffers(MediaTime start, MediaTime duration,
                                                      double maxChunkSeconds) {
    std::vector<AudioSampleRef> chunks;
    const double total = duration.seconds();
    if (!(total > 0.001) || !(maxChunkSeconds > 0) || !start.isValid()) return chunks;
    constexpr int32_t rate = AudioBlock::kSampleRate;
    double offset = 0.0;
    double chunk = std::min(total, maxChunkSeconds);
    for (;;) {
        const int64_t frames = std::llround(chunk * rate);
        if (frames < 1) break;
        auto block = std::make_shared<AudioBlock>();
        block->samples.assign(size_t(frames) * AudioBlock::kChannels, 0.0f);
        block->pts = start + MediaTime::fromSeconds(offset, rate);
        chunks.push_back(std::move(block));
        offset += double(frames) / rate;
        if (offset >= total) break;
        chunk = std::min(total - offset, maxChunkSeconds);
    }
    return chunks;
}

}  // namespace corvane
