#pragma once

#include <cstdint>
#include <optional>

#include "core/time/MediaTime.h"

namespace corvane {

// Puts captured frames on the configured rate's grid, so the saved track has regular intervals
// and strictly increasing stamps however the grabbing thread is scheduled.
//
// The grid is anchored at the first frame's arrival (on the capture clock); slot k lies at
// origin + k / fps, computed from k each time so rounding never accumulates. A frame takes the
// slot whose window holds its arrival (a quarter interval before the slot to three quarters after,
// so a late frame keeps its own slot); when that slot is already used (two frames in one window)
// it takes the next free slot, provided that slot is at most half an interval after the arrival,
// and is dropped otherwise so the picture never runs ahead of the sound. Every stamp therefore
// lies between three quarters of an interval before its arrival and half an interval after. A
// slot nobody claims stays a gap: the previous frame simply lasts until the next stamp.
//
// One instance per video stream, used from its grabbing thread only.
class FrameGrid {
public:
    explicit FrameGrid(int32_t fps);

    // The stamp (capture clock, microseconds) for a frame captured at `arrival`, or nullopt when
    // the frame has no slot and must be dropped. Invalid arrivals are dropped too.
    std::optional<MediaTime> place(MediaTime arrival);

    int32_t fps() const { return fps_; }

private:
    int64_t slotMicros(int64_t slot) const;

    int32_t fps_;
    bool anchored_ = false;
    int64_t originMicros_ = 0;
    int64_t lastSlot_ = 0;
};

}  // namespace corvane
