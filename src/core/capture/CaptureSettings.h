#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/capture/CaptureBackend.h"
#include "core/capture/VideoCodec.h"

namespace corvane {

// The capture's settings: a plain snapshot, compared field by field to decide on a restart.
// Built by the engine from the configuration file, held by the capture, and turned into the
// encoder's settings at every start.
struct CaptureSettings {
    int32_t fps = 48;
    int32_t bitrateKbps = 0;    // 0 or less: derived from size and frame rate (encoderBitrateKbps)
    VideoCodec codec = VideoCodec::H264;
    int32_t targetWidth = 0;    // 0 or less: native
    int32_t targetHeight = 0;   // 0 or less: native
    bool recordAudio = true;
    uint32_t displayId = 0;     // 0: the main display
    uint32_t windowId = 0;      // 0: capture a display
    float windowScale = 1.0f;   // applied to a captured window's pixel size
    bool operator==(const CaptureSettings&) const = default;
};

// Kilobits per second for a size and frame rate: 12000 at 1920x1080@60, scaled by the pixel
// rate to the power 0.72, rounded to 500, clamped to 2500...50000.
int32_t calculateDynamicBitrate(int32_t width, int32_t height, int32_t fps);

// The one bit-rate rule: the kilobits per second the encoder is given for `settings` when it
// captures `width` x `height` pixels. The configured rate when it is 1 or more; otherwise
// calculateDynamicBitrate at the effective frame rate, with 1920 (1080) standing in for a side
// that is not known yet (below 1). The capture's start and live settings, the engine's reload and
// the settings tab's size estimate all use it, so the estimate is what the encoder really gets.
int32_t encoderBitrateKbps(const CaptureSettings& settings, int32_t width, int32_t height);

// The AAC track of a saved clip, in kilobits per second.
inline constexpr int32_t kClipAudioBitrateKbps = 192;

// A capture side in pixels: rounded down to even, and 64 when below 64.
int32_t evenCaptureDimension(int32_t pixels);

// The frame rate the stream and encoder actually run at: the setting limited to 1...240, so a
// broken configuration can neither divide by zero nor ask for an absurd rate.
int32_t effectiveFps(int32_t fps);

// Where a start captures and at what size, worked out from what is on screen.
struct CaptureTarget {
    DisplayInfo display;
    std::optional<WindowInfo> window;  // set for window capture
    bool windowMissing = false;        // a window was configured but is not on screen
    int32_t width = 0;                 // even, at least 64
    int32_t height = 0;
};

// nullopt when there is no display at all. A configured display that is not connected gives the
// main display (then the first listed); a configured window that is not on screen gives the
// display with windowMissing set. Window size = window pixels x window scale x windowScale,
// truncated; display size = the target when both sides are at least 1, else the native size.
std::optional<CaptureTarget> chooseCaptureTarget(const ShareableContent& content,
                                                 const CaptureSettings& settings);


}  // namespace corvane
