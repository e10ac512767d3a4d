#include "core/window/WindowTitle.h"

#include <cstdio>

#include "core/time/WholeSeconds.h"

namespace corvane {

namespace {
// About 31,700 years: keeps the hour field printable and far beyond any real run.
constexpr int64_t kMaxTitleSeconds = int64_t{1} << 40;
}  // namespace

std::string formatDuration(double seconds) {
    const int64_t s = truncatedClamped(seconds, 0, kMaxTitleSeconds);
    char text[48];
    if (s >= 3600) {
        std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", static_cast<long long>(s / 3600),
                      static_cast<long long>((s % 3600) / 60), static_cast<long long>(s % 60));
    } else {
        std::snprintf(text, sizeof text, "%02lld:%02lld", static_cast<long long>(s / 60),
                      static_cast<long long>(s % 60));
    }
    return text;
}

std::string mainWindowTitle(const std::optional<RecordingPair>& status) {
    if (status && status->isRecording) return "Corvane - " + formatDuration(status->duration);
    return "Corvane - Idle";
}

}  // namespace corvane
