#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace corvane {

class CorvaneRingBuffer;

// A file of a save made of several that could not be written (the others were).
struct ClipPartFailure {
    int part = 0;  // 1-based, in time order
    std::string reason;
};

// How a clip export ended. On success `path` is the finished file and `actualSeconds` the length
// it really holds; otherwise `failure` says whose fault it was and `reason` is one plain sentence
// for the user (for CouldNotWrite it carries the system's reason, e.g. "No space left on device").
// A span across a change of video format is saved as one file per format (partCount of them):
// then `path` is the newest file written, `earlierPaths` the others written (oldest first),
// `actualSeconds` their length together, and `failedParts` the files that could not be written.
// It fails only when no file was written.
struct ClipExportResult {
    enum class Failure {
        None,
        NotEnoughVideo,  // the replay buffer had no valid clip to give; nothing was written
        CouldNotWrite,   // folder or file could not be written, or the save was given up; nothing is left behind
    };

    Failure failure = Failure::None;
    std::string path;
    double actualSeconds = 0;
    std::string reason;
    std::vector<std::string> earlierPaths;
    int partCount = 1;
    std::vector<ClipPartFailure> failedParts;

    bool ok() const { return failure == Failure::None; }
};

// What a running export has done so far. Written by the export on the save worker, read by the
// engine's watchdog on the main thread, which may also give the export up.
struct ExportProgress {
    enum class Phase { Preparing, Writing, Finishing, Done };

    std::atomic<Phase> phase{Phase::Preparing};
    std::atomic<uint64_t> steps{0};  // moves with every packet handed to the file
    std::atomic<size_t> videoWritten{0}, videoTotal{0}, audioWritten{0}, audioTotal{0};
    // Files of the save finished so far, of how many (more than one across a change of format).
    std::atomic<int> filesWritten{0}, filesTotal{1};
    // Set when the save is given up (it overran its time): the export stops at its next step,
    // removes its temporary file (once a hanging write returns) and fails.
    std::atomic<bool> abandoned{false};
};

// Writes the last durationSeconds of the replay buffer to a new MP4 file in outputDir ("~" is
// expanded; the folder is created when missing). Blocks the calling thread until the file is
// complete or abandoned (a fraction of a second for a minute of video); call it off the main
// thread. Only reads the buffer. Never throws. Reentrant: an export given up on may still be
// blocked in the kernel while the next one runs.
class ClipExporter {
public:
    virtual ~ClipExporter() = default;
    virtual ClipExportResult exportClip(CorvaneRingBuffer& ringBuffer, double durationSeconds,
                                        const std::string& outputDir, bool recordAudio,
                                        ExportProgress& progress) = 0;
};

}  // namespace corvane
