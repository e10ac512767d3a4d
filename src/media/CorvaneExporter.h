#pragma once

#include <string>

#include "core/export/ClipExporter.h"
#include "core/sched/Clock.h"
#include "media/export/ClipFileSink.h"

namespace corvane {

class FileMover;
struct ClipSamples;
class Mp4ClipOutput;

struct ClipWriteOptions {
    // fsync the file before it is renamed into place and the folder after: a clip announced as
    // saved survives a crash or power loss. Off only to measure what it costs.
    bool flushToDisk = true;
    ClipFileSinkFactory makeSink;  // empty: the real file
};

// Writes clips as MP4 by copying the buffer's packets: video and audio, interleaved, in one pass
// through a large output buffer; nothing is encoded. The file is written under a hidden temporary
// name in the clips folder and renamed into place (never over an existing file; "_2", "_3" names
// instead) only when complete, so a failed write leaves nothing and the folder watch never sees
// half a clip. A span across a change of video format becomes one file per format, named as
// parts of one save ("_part1", "_part2"). Blocks the calling thread; reentrant (no state beyond
// its settings).
class CorvaneExporter final : public ClipExporter {
public:
    // `files` moves the finished file into place and must outlive the exporter. The clock names
    // the file (local time of the export).
    explicit CorvaneExporter(FileMover& files, const Clock& clock = SystemClock::instance(),
                             ClipWriteOptions options = {});

    ClipExportResult exportClip(CorvaneRingBuffer& ringBuffer, double durationSeconds,
                                const std::string& outputDir, bool recordAudio,
                                ExportProgress& progress) override;

private:
    ClipExportResult writeClipFile(const ClipSamples& clip, const std::string& folder, WallTime exportTime,
                                   int part, ExportProgress& progress);

    FileMover& files_;
    const Clock& clock_;
    const ClipWriteOptions options_;
};

}  // namespace corvane
