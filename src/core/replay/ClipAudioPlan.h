#pragma once

#include <memory>
#include <vector>

#include "core/replay/Samples.h"
#include "core/time/MediaTime.h"

namespace corvane {

// One packet of a clip's audio track and where it goes on the capture clock.
struct ClipAudioPacket {
    AudioPacketRef packet;  // nullptr: the track format's silent packet
    MediaTime pts;          // 1/sampleRate timescale
    MediaTime duration;     // a whole frame, except the last, cut at the clip's end
};

// A clip's audio: packets back to back on one grid of frames, from one frame before the clip's
// start (the decoder needs it to rebuild the first frame; the writer's edit list hides it) to the
// clip's end. Empty when the clip has no audio.
struct ClipAudioTrack {
    // The parameters every packet decodes with; nullptr when no audio was ever captured (the
    // writer then uses its own silent packet and parameters).
    std::shared_ptr<const AudioStreamFormat> format;
    std::vector<ClipAudioPacket> packets;
};

// Lays buffered packets (in buffer order) out on the grid of the first encoder run that reaches
// into [start, end). Packets of a later run are moved by less than half a frame onto that grid and
// win where two runs overlap (the older run's flushed tail goes); a run whose parameters cannot
// join the newest run's is left out; every frame without a packet is silence. Pure function.
ClipAudioTrack planClipAudio(const std::vector<AudioPacketRef>& buffered, MediaTime start, MediaTime end,
                             std::shared_ptr<const AudioStreamFormat> fallbackFormat);

}  // namespace corvane
