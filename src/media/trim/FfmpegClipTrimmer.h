#pragma once

#include "core/library/ClipMedia.h"

namespace corvane {

// Cuts a range out of an MP4/MOV clip by stream copy (no re-encoding) into a new MP4.
//
// The visible start is frame-exact: copying starts at the keyframe at or before the start and
// the packets before the start get negative times, which the MP4 muxer hides behind an edit
// list (so players decode them but show the first frame at the start). One audio packet before
// the start is kept as pre-roll so the audio decoder's overlap is primed and audio starts in
// sync. Video and audio streams are kept (the first of each); other streams are dropped.
// Blocking; run on a worker. Thread-safe. The finished file is flushed to disk before success
// is reported, because callers may rename it over the original.
class FfmpegClipTrimmer final : public ClipTrimmer {
public:
    TrimOutcome trim(const std::string& source, const std::string& destination, double startSeconds,
                     double endSeconds, const std::atomic<bool>& cancelled) override;
};

}  // namespace corvane
