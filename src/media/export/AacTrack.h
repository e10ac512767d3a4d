#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/replay/Samples.h"
#include "core/time/MediaTime.h"

struct AVCodecParameters;
struct AVPacket;

namespace corvane {

// An encoded AAC track (48 kHz, stereo, 192 kbit/s): packets in 1/48000 time, starting with the
// encoder's priming (negative pts), plus the stream parameters the muxer needs.
class AacTrack {
public:
    ~AacTrack();
    AacTrack(const AacTrack&) = delete;
    AacTrack& operator=(const AacTrack&) = delete;

    // Places every block at its own time stamp on a time line from start to end (samples outside
    // are cut, overlaps are overwritten by the later block, uncovered time is silence) and encodes
    // it. Long tracks are encoded as two halves on two threads, joined with a pre-roll so the seam
    // decodes like one stream. Returns nullptr (and the libav error in status) on failure.
    static std::unique_ptr<AacTrack> encode(const std::vector<AudioSampleRef>& blocks, MediaTime start,
                                            MediaTime end, int& status);

    const AVCodecParameters* parameters() const { return parameters_; }
    const std::vector<AVPacket*>& packets() const { return packets_; }
    int64_t sampleCount() const { return sampleCount_; }

private:
    AacTrack() = default;

    AVCodecParameters* parameters_ = nullptr;
    std::vector<AVPacket*> packets_;
    int64_t sampleCount_ = 0;
};

}  // namespace corvane
