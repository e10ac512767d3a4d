#pragma once

#include <cstdint>

#include "core/time/MediaTime.h"

namespace corvane {

enum class RawPixelFormat { BGRA, BGR0 };

// One uncompressed captured frame, borrowed: the pixels belong to the capture back end and are
// valid only during the call that hands the frame over (no copy on the way to the encoder).
struct RawVideoFrame {
    const uint8_t* pixels = nullptr;
    int32_t strideBytes = 0;
    int32_t width = 0;
    int32_t height = 0;
    RawPixelFormat format = RawPixelFormat::BGR0;
    MediaTime pts;       // on the shared monotonic capture clock
    MediaTime duration;  // may be invalid or zero; the encoder then uses 1/fps
};

}  // namespace corvane
