#pragma once

#include <string>

#include "core/capture/CaptureBackend.h"

namespace corvane {

// System audio from PulseAudio (or PipeWire's pulse server): the monitor of the default sink, read
// as 48 kHz interleaved stereo float in 20 ms blocks by one thread per stream and posted to the
// audio queue. Blocks are stamped on the capture clock from their sample count, anchored at the
// stream's first block. When the default sink changes, the stream follows it to the new sink's
// monitor (re-anchored). stop() never waits more than about half a second for a blocked read.
// Thread-safe.
class PulseSystemAudioBackend final : public SystemAudioBackend {
public:
    // Empty server: the default one ($PULSE_SERVER or the session's).
    explicit PulseSystemAudioBackend(std::string server = {});

    CaptureResult<std::unique_ptr<CaptureStream>> openSystemAudio(
        Executor& audioQueue, AudioStreamCallbacks callbacks) override;

private:
    std::string server_;
};

}  // namespace corvane
