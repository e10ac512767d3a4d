#pragma once

#include <memory>
#include <string>

#include "core/export/ClipExporter.h"
#include "core/sched/Clock.h"

namespace corvane {

class FileMover;
class SoundPlayer;

// Writes clips as MP4: the buffer's compressed video stream-copied, its PCM encoded to AAC
// (48 kHz, stereo, 192 kbit/s). The file is written under a hidden temporary name in the clips
// folder and renamed into place (never over an existing file) only when complete, so a failed
// write leaves nothing and the folder watch never sees half a clip. Blocks the calling thread.
class CorvaneExporter final : public ClipExporter {
public:
    // `files` moves the finished file into place and must outlive the exporter. soundPlayer may
    // be null (no chime). The clock names the file (local time of the export).
    explicit CorvaneExporter(FileMover& files, std::shared_ptr<SoundPlayer> soundPlayer = nullptr,
                             const Clock& clock = SystemClock::instance());

    ClipExportResult exportClip(CorvaneRingBuffer& ringBuffer, double durationSeconds,
                                const std::string& outputDir, bool playSound,
                                bool recordAudio) override;

private:
    FileMover& files_;
    std::shared_ptr<SoundPlayer> soundPlayer_;
    const Clock& clock_;
};

}  // namespace corvane
