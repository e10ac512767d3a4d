#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/capture/CaptureBackend.h"
#include "core/config/AppConfig.h"

namespace corvane {

// The capture's settings: a plain snapshot, compared field by field to decide on a restart.
struct CaptureSettings {
    int32_t fps = 48;
    int32_t bitrateKbps = 0;    // 0 or less: derived from size and frame rate
    int32_t codec = 0;          // 1 = HEVC, 0 = H.264
    int32_t targetWidth = 0;    // 0 or less: native
    int32_t targetHeight = 0;   // 0 or less: native
    bool recordAudio = true;
    uint32_t displayId = 0;     // 0: the main display
    uint32_t windowId = 0;      // 0: capture a display
    float windowScale = 1.0f;   // applied to a captured window's pixel size

    // fps and bit rate saturated to 32 bits; codec 1 exactly for "hevc"; target from the
    // resolution preset.
    static CaptureSettings fromConfig(const AppConfig& config);
    bool operator==(const CaptureSettings&) const = default;
};

// Kilobits per second for a size and frame rate: 12000 at 1920x1080@60, scaled by the pixel
// rate to the power 0.72, rounded to 500, clamped to 2500...50000.
int32_t calculateDynamicBitrate(int32_t width, int32_t height, int32_t fps);

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

// Decides whether a captured window's content size or scale changed enough to rebuild the
// stream: 4.0 units or more on either side, or 0.05 or more of scale. The first report only
// sets the baseline. Not thread-safe; the capture guards it with a lock.
class WindowResizeDetector {
public:
    // True when this report is a change (and it becomes the new baseline).
    bool report(double width, double height, std::optional<double> scale);
    void reset();

private:
    std::optional<std::pair<double, double>> lastSize_;
    std::optional<double> lastScale_;
};

}  // namespace corvane
