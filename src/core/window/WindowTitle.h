#pragma once

#include <optional>
#include <string>

#include "core/status/CorvaneStatus.h"

namespace corvane {

// "MM:SS", or "HH:MM:SS" from one hour on (hours may grow past two digits). The fraction is
// dropped; negative, NaN and infinite values count as 0; absurdly large ones are clamped.
std::string formatDuration(double seconds);

// "Corvane - 01:02:05" while recording, else (or with no status) "Corvane - Idle".
std::string mainWindowTitle(const std::optional<RecordingPair>& status);

}  // namespace corvane
