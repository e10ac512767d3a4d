#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/capture/VideoCodec.h"

namespace corvane {

// Which dedicated (hardware) video encoders open on this machine. Probed once per process, in
// the encoder's fixed order (each codec's list until one opens), by opening each at 1280x720
// with FFmpeg's own error output silenced, and logged as one "[Corvane] " line. Later encoder
// set-ups skip what did not open instead of trying (and failing loudly) again.
struct HardwareEncoderSurvey {
    std::optional<std::string> h264;   // the first dedicated H.264 encoder that opened
    std::optional<std::string> hevc;   // the first dedicated HEVC encoder that opened
    std::vector<std::string> failed;   // encoders that did not open, in the order tried

    bool didNotOpen(const std::string& encoder) const;
};

// The survey; the first call (from any thread) probes and blocks for it (milliseconds without a
// GPU), later calls return at once. Thread-safe.
const HardwareEncoderSurvey& hardwareEncoderSurvey();

// Names what the live video encoder will really use for the configured codec, for the start-up
// banner: "VA-API (h264_vaapi)", "NVIDIA NVENC (h264_nvenc)", "Intel Quick Sync (h264_qsv)" or
// "none (libx264 software)". From the survey.
std::string describeHardwareAcceleration(VideoCodec codec);

// Forgets the survey so that the next call probes again. Tests only; no survey may be in use.
void resetHardwareEncoderSurveyForTesting();

}  // namespace corvane
