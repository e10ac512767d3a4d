#pragma once
// The colour conversion of a captured frame whose size is the encoder's: BGRX (or BGRA) to the
// encoder's 4:2:0 input, through libyuv's SIMD row functions. At 1080p this is several times
// cheaper than swscale's generic RGB input path, which was the largest single cost of capture.
// Same matrix as swscale's default (BT.601, limited range), so pictures look the same either way.
//
// Thread: any; no state.
#include <cstdint>

extern "C" {
#include <libavutil/frame.h>
}

namespace corvane {

// Converts `pixels` (width x height, 4 bytes per pixel in B, G, R, X order, `strideBytes` per
// row) into `target`, which must have the same width and height. Returns false, leaving
// `target` untouched, when its pixel format has no fast path (the caller falls back to swscale).
bool convertSameSize(const uint8_t* pixels, int strideBytes, int width, int height, AVFrame& target);

}  // namespace corvane
