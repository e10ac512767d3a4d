#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "core/replay/Samples.h"
#include "media/export/ClipFileSink.h"

struct AVFormatContext;
struct AVIOContext;
struct AVPacket;

namespace corvane {

// An MP4 file made from packets as they are: the video stream-copied, optionally one AAC track,
// written through a large output buffer onto a sink. Packets must be given interleaved by time
// (the muxer does no reordering); times are relative to the clip's start, and audio may start
// before it (its pre-roll: the muxer's edit list hides it). Nothing is copied on the way in.
class Mp4ClipOutput {
public:
    static constexpr int kBufferBytes = 4 << 20;

    ~Mp4ClipOutput();
    Mp4ClipOutput(const Mp4ClipOutput&) = delete;
    Mp4ClipOutput& operator=(const Mp4ClipOutput&) = delete;

    // Writes the header. `abandoned`, when set, makes every later write fail at once. nullptr and
    // the libav error in `error` on failure.
    static std::unique_ptr<Mp4ClipOutput> open(ClipFileSink& sink, const VideoStreamFormat& video,
                                               int32_t videoTimescale, const AudioStreamFormat* audio,
                                               const std::atomic<bool>& abandoned, int& error);

    // 0 or a libav error.
    int writeVideo(const VideoPacket& packet, MediaTime relativePts);
    int writeAudio(const uint8_t* data, size_t size, MediaTime relativePts, MediaTime duration);
    // Writes the index and empties the buffer into the sink.
    int finish();

    bool hasAudio() const { return audioIndex_ >= 0; }

private:
    Mp4ClipOutput() = default;
    static int writeToSink(void* opaque, uint8_t* data, int size);
    static int64_t seekSink(void* opaque, int64_t offset, int whence);
    int write(const uint8_t* data, size_t size, int64_t pts, int64_t duration, bool key, int stream);

    ClipFileSink* sink_ = nullptr;
    const std::atomic<bool>* abandoned_ = nullptr;
    AVFormatContext* context_ = nullptr;
    AVIOContext* io_ = nullptr;
    AVPacket* packet_ = nullptr;
    int videoIndex_ = -1;
    int audioIndex_ = -1;
};

}  // namespace corvane
