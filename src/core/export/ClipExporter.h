#pragma once

#include <string>

namespace corvane {

class CorvaneRingBuffer;

// How a clip export ended. On success `path` is the finished file and `actualSeconds` the length
// it really holds; otherwise `failure` says whose fault it was and `reason` is one plain sentence
// for the user (for CouldNotWrite it carries the system's reason, e.g. "No space left on device").
struct ClipExportResult {
    enum class Failure {
        None,
        NotEnoughVideo,  // the replay buffer had no valid clip to give; nothing was written
        CouldNotWrite,   // folder or file could not be written; nothing is left behind
    };

    Failure failure = Failure::None;
    std::string path;
    double actualSeconds = 0;
    std::string reason;

    bool ok() const { return failure == Failure::None; }
};

// Writes the last durationSeconds of the replay buffer to a new MP4 file in outputDir ("~" is
// expanded; the folder is created when missing). Blocks the calling thread until the file is
// complete or abandoned (a fraction of a second for a minute of video); call it off the main
// thread. Only reads the buffer. Never throws. One export at a time per exporter.
class ClipExporter {
public:
    virtual ~ClipExporter() = default;
    virtual ClipExportResult exportClip(CorvaneRingBuffer& ringBuffer, double durationSeconds,
                                        const std::string& outputDir, bool playSound,
                                        bool recordAudio) = 0;
};

}  // namespace corvane
