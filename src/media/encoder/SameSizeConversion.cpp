#include "media/encoder/SameSizeConversion.h"

#include <libyuv/convert_from_argb.h>

namespace corvane {

bool convertSameSize(const uint8_t* pixels, int strideBytes, int width, int height, AVFrame& target) {
    if (target.width != width || target.height != height) return false;
    // libyuv names formats by the 32-bit word, little-endian: its "ARGB" is B, G, R, A in memory.
    switch (target.format) {
        case AV_PIX_FMT_YUV420P:
            return libyuv::ARGBToI420(pixels, strideBytes, target.data[0], target.linesize[0],
                                      target.data[1], target.linesize[1], target.data[2],
                                      target.linesize[2], width, height) == 0;
        case AV_PIX_FMT_NV12:
            return libyuv::ARGBToNV12(pixels, strideBytes, target.data[0], target.linesize[0],
                                      target.data[1], target.linesize[1], width, height) == 0;
        default:
            return false;
    }
}

}  // namespace corvane
