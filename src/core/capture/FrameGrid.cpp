#include "core/capture/FrameGrid.h"

#include <algorithm>

#include "core/capture/CaptureClock.h"

namespace corvane {
namespace {

constexpr int64_t kMicrosPerSecond = 1'000'000;
// The origin is snapped to a multiple of 100 us (at most 50 us away from the arrival): slot times
// are then whole ticks in the usual media time bases (90 kHz, 48 kHz, 1 kHz) for every rate that
// divides them, so converting a stamp never adds a tick of jitter.
constexpr int64_t kOriginStepMicros = 100;

int64_t floorDiv(int64_t a, int64_t b) {
    int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

}  // namespace

FrameGrid::FrameGrid(int32_t fps) : fps_(std::clamp(fps, 1, 1000)) {}

int64_t FrameGrid::slotMicros(int64_t slot) const {
    return originMicros_ + floorDiv(slot * kMicrosPerSecond * 2 + fps_, int64_t(fps_) * 2);
}

std::optional<MediaTime> FrameGrid::place(MediaTime arrival) {
    const MediaTime micros = arrival.convertedTo(kCaptureClockTimescale);
    if (!micros.isValid()) return std::nullopt;
    const int64_t at = micros.value();
    if (!anchored_) {
        anchored_ = true;
        originMicros_ = floorDiv(at + kOriginStepMicros / 2, kOriginStepMicros) * kOriginStepMicros;
        lastSlot_ = 0;
        return MediaTime(originMicros_, kCaptureClockTimescale);
    }
    // The slot whose window holds the arrival: from a quarter interval before the slot to three
    // quarters after it, i.e. floor((at - origin) * fps / 1 s + 1/4).
    int64_t slot = floorDiv((at - originMicros_) * fps_ * 4 + kMicrosPerSecond, kMicrosPerSecond * 4);
    if (slot <= lastSlot_) {
        slot = lastSlot_ + 1;
        const int64_t halfIntervalMicros = (kMicrosPerSecond + 2 * fps_ - 1) / (2 * fps_);
        if (slotMicros(slot) - at > halfIntervalMicros) return std::nullopt;
    }
    lastSlot_ = slot;
    return MediaTime(slotMicros(slot), kCaptureClockTimescale);
}

}  // namespace corvane
