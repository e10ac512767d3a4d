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
// Audio packets starting this long before the clip can still reach into it or be its pre-roll
// (two AAC frames and a run's shift onto the grid are under 0.07 s).
constexpr double kAudioReachSeconds = 0.1;
// A start keyframe further than this before the target lies before a hole in the stream
// (regular keyframes come at least every second).
constexpr double kGapMendSeconds = 2.0;
// A stretch of another format shorter than this is left out of a save rather than written as a
// file of its own.
constexpr double kMinPartSeconds = 0.5;
// Reservation covers at most this much history; longer buffers grow as they fill.
constexpr double kMaxReservedSeconds = 600.0;

// Written so that NaN falls to the floor too.
double flooredDuration(double seconds) {
    return seconds >= kMinDurationSeconds ? seconds : kMinDurationSeconds;
}

double secondsBetween(MediaTime later, MediaTime earlier) { return (later - earlier).seconds(); }

std::string formatSeconds(const char* pattern, double value) {
    char text[160];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

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

void CorvaneRingBuffer::appendAudio(AudioPacketRef packet) {
    if (!packet || !packet->format || !packet->pts.isValid() || !packet->duration.isValid()) return;
    AudioSampleItem item;
    item.pts = packet->pts;
    item.duration = packet->duration;
    item.dataSize = int64_t(packet->data.size());
    item.wallClock = clock_.wallNow();
    std::shared_ptr<const AudioStreamFormat> format = packet->format;
    item.sampleBuffer = std::move(packet);

    Graveyard released;
    std::lock_guard lock(mutex_);
    if (lastAudioFormat_ != format) lastAudioFormat_.swap(format);  // the old one goes after unlocking
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

namespace {

// Where a clip of frames [begin, end) reaching back to `target` starts: the latest keyframe at or
// before it, unless that lies before a stretch without frames (stalled capture, resume from
// suspend: the hole would become frozen picture and silence); else the first keyframe.
std::optional<size_t> startKeyframe(const std::vector<VideoSampleItem>& video, size_t begin, size_t end,
                                    MediaTime target) {
    std::optional<size_t> start;
    for (size_t i = end; i-- > begin;) {
        if (video[i].isKeyframe && video[i].pts <= target) {
            start = i;
            break;
        }
    }
    if (start && secondsBetween(target, video[*start].pts) > kGapMendSeconds) {
        for (size_t i = *start + 1; i < end; ++i) {
            if (video[i].isKeyframe) {
                start = i;
                break;
            }
        }
    }
    for (size_t i = begin; !start && i < end; ++i) {
        if (video[i].isKeyframe) start = i;
    }
    return start;
}

}  // namespace

ClipSamples CorvaneRingBuffer::takePartLocked(size_t start, size_t end, bool recordAudio,
                                              std::vector<AudioPacketRef>& audio) const {
    ClipSamples clip;
    const VideoSampleItem& last = videoSamples_[end - 1];
    clip.startPTS = videoSamples_[start].pts;
    const double span = secondsBetween(last.pts, clip.startPTS);
    clip.actualDuration = span > 0.1 ? span : 0.1;
    clip.video.reserve(end - start);
    for (size_t i = start; i < end; ++i) clip.video.push_back(videoSamples_[i].sampleBuffer);
    clip.endPTS = last.pts;
    if (last.sampleBuffer->duration.isValid() && last.sampleBuffer->duration.seconds() > 0)
        clip.endPTS = last.pts + last.sampleBuffer->duration;
    if (recordAudio) {
        // References only: the packets that can reach into the clip, pre-roll included.
        const MediaTime from = clip.startPTS - MediaTime::fromSeconds(kAudioReachSeconds, 1000);
        for (const AudioSampleItem& item : audioSamples_) {
            if (item.pts + item.duration <= from) continue;
            if (item.pts >= clip.endPTS) continue;  // arrival order is not strictly time order
            audio.push_back(item.sampleBuffer);
        }
    }
    return clip;
}

ClipSelection CorvaneRingBuffer::getSamplesForClip(double durationSeconds, bool recordAudio) {
    ClipSelection result;
    auto refuse = [&result](ClipRefusal refusal, std::string message) {
        result.refusal = refusal;
        result.message = std::move(message);
        if (!result.message.empty()) logLine(result.message);
        return std::move(result);
    };

    // Parts in time order; their audio is laid out after unlocking.
    struct Part {
        ClipSamples clip;
        std::vector<AudioPacketRef> audio;
    };
    std::vector<Part> parts;
    std::vector<std::string> leftOut;  // logged after unlocking
    std::shared_ptr<const AudioStreamFormat> audioFormat;
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
        audioFormat = lastAudioFormat_;

        // The newest format's run (several encoder runs when restarts kept the picture and header).
        size_t runStart = videoSamples_.size() - 1;
        while (runStart > 0 && sameVideoFormat(videoSamples_[runStart - 1].sampleBuffer->format,
                                               newest.sampleBuffer->format))
            --runStart;

        auto windowBefore = [&](MediaTime oldest) {
            double available = secondsBetween(newest.pts, oldest);
            if (!(available > 0)) available = 0;
            const double window = std::clamp(std::isnan(durationSeconds) ? available : durationSeconds,
                                             0.0, available);
            return std::pair(available, newest.pts - MediaTime::fromSeconds(window, newest.pts.timescale()));
        };

        // A span reaching back before the newest run's first usable keyframe takes a part of
        // every older run it reaches into; a run too short to be a file of its own is left out.
        if (runStart > 0) {
            const MediaTime target = windowBefore(videoSamples_.front().pts).second;
            const std::optional<size_t> newestRunStart =
                startKeyframe(videoSamples_, runStart, videoSamples_.size(), target);
            if (!newestRunStart || videoSamples_[*newestRunStart].pts > target) {
                for (size_t begin = 0, end = 0; begin < videoSamples_.size(); begin = end) {
                    for (end = begin + 1; end < videoSamples_.size() &&
                                          sameVideoFormat(videoSamples_[end].sampleBuffer->format,
                                                          videoSamples_[end - 1].sampleBuffer->format);
                         ++end) {
                    }
                    if (!(videoSamples_[end - 1].pts > target)) continue;  // ends before the span
                    const std::optional<size_t> start = startKeyframe(videoSamples_, begin, end, target);
                    const MediaTime from = videoSamples_[start.value_or(begin)].pts;
                    const double span = secondsBetween(videoSamples_[end - 1].pts, from);
                    if (!start || !(span >= kMinPartSeconds)) {
                        leftOut.push_back(formatSeconds(
                            "Left out a %.2fs stretch of one video format: too short for a clip of its own",
                            std::max(span, 0.0)));
                        continue;
                    }
                    Part part;
                    part.clip = takePartLocked(*start, end, recordAudio, part.audio);
                    parts.push_back(std::move(part));
                }
            }
        }

        if (parts.empty()) {
            // Within the newest run: the one clip as always.
            leftOut.clear();
            const auto [available, target] = windowBefore(videoSamples_[runStart].pts);
            if (available < kMinAvailableSeconds) {
                lock.unlock();
                return refuse(ClipRefusal::NotEnoughVideo,
                              formatSeconds("Not enough video buffered yet (available: %.2fs < 0.5s)",
                                            available));
            }
            const std::optional<size_t> start =
                startKeyframe(videoSamples_, runStart, videoSamples_.size(), target);
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
            const double span = secondsBetween(newest.pts, videoSamples_[*start].pts);
            if (!(span >= kMinClipSeconds)) {
                lock.unlock();
                return refuse(ClipRefusal::TooShort, formatSeconds("Selected clip duration too short (%.2fs)",
                                                                   span > 0.1 ? span : 0.1));
            }
            Part part;
            part.clip = takePartLocked(*start, videoSamples_.size(), recordAudio, part.audio);
            parts.push_back(std::move(part));
        }
    }

    for (const std::string& line : leftOut) logLine(line);
    for (Part& part : parts) {
        if (recordAudio)
            part.clip.audio = planClipAudio(part.audio, part.clip.startPTS, part.clip.endPTS, audioFormat);
        if (&part != &parts.back()) result.earlierParts.push_back(std::move(part.clip));
    }
    result.clip = std::move(parts.back().clip);
    return result;
}

}  // namespace corvane
