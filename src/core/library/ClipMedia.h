#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace corvane {

// A picture of a clip (a row's thumbnail, the preview's poster): packed RGB, 3 bytes per pixel,
// rows without padding.
struct Thumbnail {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;
    bool empty() const { return width <= 0 || height <= 0; }
};

struct ClipMediaInfo {
    double durationSeconds = 0;  // finite and >= 0; 0 when the file has no readable duration
    Thumbnail thumbnail;         // empty when no frame could be decoded
    // Not a playable video: it cannot be opened as a media file, holds no video stream, has no
    // duration, or not one picture decodes (zero-byte, random and cut-off files).
    bool damaged = false;
};

// Reads a clip's duration and first picture. Implemented with FFmpeg in media; blocking, called
// on a worker thread only. Never opens anything but a regular file.
class ClipProber {
public:
    virtual ~ClipProber() = default;
    // The duration and a thumbnail.
    virtual ClipMediaInfo probe(const std::string& path) = 0;
    // The first picture fitted into maxWidth x maxHeight (aspect kept, never enlarged); empty
    // when none decodes.
    virtual Thumbnail firstPicture(const std::string& path, int maxWidth, int maxHeight) = 0;
};

// An error of the library's own operations, shown to the user as `message`.
struct ClipError {
    std::string domain = "Corvane";
    int code = 0;
    std::string message;
};

// Result of cutting a clip to a range.
struct TrimOutcome {
    enum class Status { Ok, NoVideoInRange, Cancelled, Failed };
    Status status = Status::Ok;
    ClipError error;  // for Failed
};

// Cuts [startSeconds, endSeconds) of `source` into a new file at `destination` without
// re-encoding. Blocking, on a worker thread. Checks `cancelled` between packets and stops early;
// on anything but Ok no file is left at `destination`.
class ClipTrimmer {
public:
    virtual ~ClipTrimmer() = default;
    virtual TrimOutcome trim(const std::string& source, const std::string& destination,
                             double startSeconds, double endSeconds,
                             const std::atomic<bool>& cancelled) = 0;
};

// The preview player of the library (Qt Multimedia in the app). Main thread only. Destroying it
// releases the file.
class PreviewPlayer {
public:
    virtual ~PreviewPlayer() = default;
    virtual void play() = 0;
    virtual void pause() = 0;
    virtual bool isPlaying() const = 0;
    virtual double positionSeconds() const = 0;
    virtual void seek(double seconds) = 0;
};

}  // namespace corvane
