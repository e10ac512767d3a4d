#pragma once

#include <string>

#include "core/capture/VideoCodec.h"

namespace corvane {

// Names what the live video encoder will really use for the configured codec, for the start-up
// banner: "VA-API (h264_vaapi)", "NVIDIA NVENC (h264_nvenc)", "Intel Quick Sync (h264_qsv)" or
// "none (libx264 software)". Probes the dedicated encoders in the encoder's own fixed order by
// opening each one; the answer is cached per codec. Thread-safe; the first call per codec blocks
// for the probe (milliseconds without a GPU).
std::string describeHardwareAcceleration(VideoCodec codec);

}  // namespace corvane
