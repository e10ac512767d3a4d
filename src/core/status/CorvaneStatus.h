#pragma once

#include <cstdint>

namespace corvane {

// A snapshot of the recorder, computed afresh on every read (nothing is cached). The buffer
// figures come from one locked read of the replay buffer; the capture figures are read next to
// it and may be a moment older or newer.
struct CorvaneStatus {
    bool isRecording = false;            // the capture stream is running
    double bufferDurationSeconds = 0.0;  // newest minus oldest buffered video time stamp
    uint64_t memoryUsageBytes = 0;       // encoded video plus audio held
    uint64_t videoFramesCount = 0;
    uint64_t audioSamplesCount = 0;
    int32_t captureWidth = 0;            // 0 before the first start
    int32_t captureHeight = 0;
    bool hasPermission = true;           // the screen can be captured (the X display opens)
    bool systemAudioLost = false;        // system audio ended by itself and is being reconnected
};

// What the main window's title shows: whether capture runs and for how long since it last
// started (seconds, 0 when not running).
struct RecordingPair {
    bool isRecording = false;
    double duration = 0.0;
};

}  // namespace corvane
