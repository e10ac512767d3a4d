#pragma once

#include <string>
#include <string_view>

#include "core/config/AppConfig.h"

namespace corvane {

// The ten-line start-up banner, ending with a line feed. `hardwareAcceleration` names the video
// encoder that will really be used ("VA-API (h264_vaapi)", "none (libx264 software)").
// The buffer length is rounded like "%.0f" (ties to even) whatever the locale; the clips folder
// is shown as configured, "~" included.
std::string startupBanner(const AppConfig& config, std::string_view hardwareAcceleration);

}  // namespace corvane
