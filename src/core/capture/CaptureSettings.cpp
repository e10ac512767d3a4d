#include "core/capture/CaptureSettings.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace corvane {
namespace {

constexpr int32_t kUnknownWidth = 1920;
constexpr int32_t kUnknownHeight = 1080;

}  // namespace

int32_t calculateDynamicBitrate(int32_t width, int32_t height, int32_t fps) {
    double x = double(std::max(width, 640)) * double(std::max(height, 360)) *
               double(std::max(fps, 15)) / 124416000.0;
    double k = std::pow(x, 0.72) * 12000.0;
    double rounded = std::round(k / 500.0) * 500.0;  // std::round takes halves away from zero
    return int32_t(std::clamp(rounded, 2500.0, 50000.0));
}

int32_t encoderBitrateKbps(const CaptureSettings& settings, int32_t width, int32_t height) {
    if (settings.bitrateKbps >= 1) return settings.bitrateKbps;
    return calculateDynamicBitrate(width >= 1 ? width : kUnknownWidth,
                                   height >= 1 ? height : kUnknownHeight, effectiveFps(settings.fps));
}

int32_t evenCaptureDimension(int32_t pixels) {
    if (pixels < 64) return 64;
    return pixels - (pixels % 2);
}

int32_t effectiveFps(int32_t fps) { return std::clamp(fps, 1, 240); }

std::optional<CaptureTarget> chooseCaptureTarget(const ShareableContent& content,
                                                 const CaptureSettings& settings) {
    const DisplayInfo* display = nullptr;
    if (settings.displayId != 0) display = content.findDisplay(settings.displayId);
    if (!display) {
        if (auto main = content.mainDisplayId()) display = content.findDisplay(*main);
    }
    if (!display) return std::nullopt;

    CaptureTarget target;
    target.display = *display;
    double w = 0;
    double h = 0;
    if (settings.windowId != 0) {
        if (const WindowInfo* window = content.findWindow(settings.windowId)) {
            target.window = *window;
            double scale = window->scale * double(settings.windowScale);
            w = std::trunc(double(window->width) * scale);
            h = std::trunc(double(window->height) * scale);
        } else {
            target.windowMissing = true;
        }
    }
    if (!target.window) {
        if (settings.targetWidth >= 1 && settings.targetHeight >= 1) {
            w = settings.targetWidth;
            h = settings.targetHeight;
        } else {
            w = display->width;
            h = display->height;
        }
    }
    auto toInt = [](double v) {
        return int32_t(std::clamp(v, 0.0, double(std::numeric_limits<int32_t>::max())));
    };
    target.width = evenCaptureDimension(toInt(w));
    target.height = evenCaptureDimension(toInt(h));
    return target;
}

}  // namespace corvane
