#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/replay/ClipAudioPlan.h"
#include "core/replay/Samples.h"
#include "core/sched/Clock.h"
#include "core/time/MediaTime.h"

namespace corvane {

// One compressed video frame held by the buffer (a reference, never a copy).
struct VideoSampleItem {
    VideoSampleRef sampleBuffer;
    MediaTime pts;
    bool isKeyframe = false;
    int64_t dataSize = 0;
    WallTime wallClock;  // when it was appended
};

// One compressed audio packet held by the buffer (a reference, never a copy).
struct AudioSampleItem {
    AudioPacketRef sampleBuffer;
    MediaTime pts;
    MediaTime duration;
    int64_t dataSize = 0;
    WallTime wallClock;
};

struct RingBufferStatus {
    double duration = 0;  // seconds between the oldest and the newest video frame
    uint64_t memoryBytes = 0;
    uint64_t videoCount = 0;
    uint64_t audioCount = 0;
};

// The samples of one clip file: video from a keyframe through the last frame of its stretch, all
// of one stream format; audio packets back to back from one frame before startPTS to endPTS
// (silence where nothing was captured). Shares the buffer's packets.
struct ClipSamples {
    std::vector<VideoSampleRef> video;
    ClipAudioTrack audio;       // no packets when audio is off
    MediaTime startPTS;         // the first frame's time: the clip's time 0
    MediaTime endPTS;           // the end of the last frame: the clip's length on the time line
    double actualDuration = 0;  // seconds from the first to the last frame, at least 0.1
};

// Why no clip could be made. Every value but Empty came with one logged message.
enum class ClipRefusal {
    None,
    Empty,           // no video at all (nothing logged)
    Stale,           // the newest frame is over 60 s old; the buffer was cleared
    NotEnoughVideo,  // under 0.5 s buffered
    NoKeyframe,
    TooFewFrames,    // fewer than 2 frames from the start keyframe on
    TooShort,        // under 0.2 s selected
};

struct ClipSelection {
    std::optional<ClipSamples> clip;  // the newest part: through the newest frame
    // A span reaching back across a change of video format (a new size, frame rate or codec) is
    // one clip per format, since one file holds one format: the parts before `clip`, oldest first.
    std::vector<ClipSamples> earlierParts;
    ClipRefusal refusal = ClipRefusal::None;
    std::string message;  // the logged line without the "[Corvane] " prefix; empty for Empty

    explicit operator bool() const { return clip.has_value(); }
};

// The in-memory replay buffer: the most recent maxDurationSeconds of compressed video (starting
// on a keyframe; it may hold several stream formats, one after the other, when capture restarted
// with a new picture) and of compressed audio (from 3 s before the oldest frame), and the clip
// selection. Thread-safe: every operation may be called from any thread; one mutex guards all
// state and is held only to append, prune and take references (planning and logging happen
// outside it).
class CorvaneRingBuffer final : public VideoPacketSink {
public:
    explicit CorvaneRingBuffer(double maxDurationSeconds, const Clock& clock = SystemClock::instance());

    // Encoder output thread. Packets with an invalid pts are ignored; late packets of an encoder
    // older than the newest one seen are dropped.
    void appendVideo(VideoSampleRef packet, bool isKeyframe) override;
    // Audio lane. Packets without a valid time, duration or format are ignored.
    void appendAudio(AudioPacketRef packet);

    // Lengths below 5 s (and NaN) become 5 s; prunes at once.
    void updateMaxDuration(double seconds);
    void clear();
    RingBufferStatus getStatus() const;
    ClipSelection getSamplesForClip(double durationSeconds, bool recordAudio);

    double maxDurationSeconds() const;
    // Up-front reservation, in entries; capped so a huge configured length cannot take the
    // memory at start.
    static size_t videoReservation(double maxDurationSeconds);
    static size_t audioReservation(double maxDurationSeconds);

private:
    // Removed entries are moved into the graveyard so the caller frees them after unlocking.
    struct Graveyard {
        std::vector<VideoSampleItem> video;
        std::vector<AudioSampleItem> audio;
    };
    void pruneVideoLocked(Graveyard& released);
    void pruneAudioLocked(Graveyard& released);
    void clearLocked(Graveyard& released);
    // A clip of videoSamples_[start, end) and references to the audio that can reach into it.
    ClipSamples takePartLocked(size_t start, size_t end, bool recordAudio,
                               std::vector<AudioPacketRef>& audio) const;

    const Clock& clock_;
    mutable std::mutex mutex_;
    std::vector<VideoSampleItem> videoSamples_;  // guarded by mutex_
    std::vector<AudioSampleItem> audioSamples_;  // guarded by mutex_
    double maxDurationSeconds_;                  // guarded by mutex_
    int64_t totalVideoBytes_ = 0;                // guarded by mutex_
    int64_t totalAudioBytes_ = 0;                // guarded by mutex_
    uint64_t newestGeneration_ = 0;              // guarded by mutex_
    bool clearedSinceNewestGeneration_ = false;  // guarded by mutex_
    // The newest audio run's parameters, kept across clears: silence for a clip without audio.
    std::shared_ptr<const AudioStreamFormat> lastAudioFormat_;  // guarded by mutex_
};

}  // namespace corvane
