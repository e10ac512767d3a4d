#pragma once

#include "core/library/ClipMedia.h"

namespace corvane {

// Reads a clip's duration and decodes its first picture (a small thumbnail, or at any size for the
// preview's poster), with FFmpeg.
// Blocking; call from a worker thread. Thread-safe (no shared state). Anything but a regular
// file is refused before it is opened, so a FIFO named like a clip cannot block the worker.
class FfmpegClipProber final : public ClipProber {
public:
    // The thumbnail fits in maxWidth x maxHeight, keeping the picture's aspect ratio. Give it the
    // pixels the library draws it with (its row picture at the screen's density): the library
    // keeps a hundred of them, so every pixel more is kept a hundred times.
    explicit FfmpegClipProber(int maxWidth = 64, int maxHeight = 36)
        : maxWidth_(maxWidth), maxHeight_(maxHeight) {}

    ClipMediaInfo probe(const std::string& path) override;
    Thumbnail firstPicture(const std::string& path, int maxWidth, int maxHeight) override;

    // The duration alone (no decoding); 0 when the file has none or cannot be read.
    static double probeDuration(const std::string& path);

private:
    int maxWidth_;
    int maxHeight_;
};

}  // namespace corvane
