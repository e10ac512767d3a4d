#include "core/engine/SaveMessages.h"

#include <cmath>

#include "core/time/WholeSeconds.h"

namespace corvane {

std::string clipSavedTitle(double actualSeconds) {
    const int64_t seconds = truncatedClamped(std::round(actualSeconds), 1, 1'000'000'000);
    return "Corvane - Clip saved (" + std::to_string(seconds) + "s)";
}

bool isAcceptableClipLength(double seconds) { return std::isfinite(seconds) && seconds >= 1.0; }

std::string shortfallNote(double askedSeconds, double savedSeconds) {
    if (!std::isfinite(askedSeconds) || !std::isfinite(savedSeconds)) return {};
    if (savedSeconds >= askedSeconds - 0.5) return {};
    const int64_t saved = truncatedClamped(std::round(savedSeconds), 0, 1'000'000'000);
    const int64_t asked = truncatedClamped(std::round(askedSeconds), 0, 1'000'000'000);
    return "Saved " + std::to_string(saved) + " s of the " + std::to_string(asked) + " s asked";
}

std::string clipSavedBody(const std::string& path, const std::string& outputDir,
                          const std::string& shortfall) {
    const size_t slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return (shortfall.empty() ? "" : shortfall + "\n") + name + "\nSaved in " + outputDir;
}

std::string clipNotSavedBody(const ClipExportResult& result) {
    if (result.failure != ClipExportResult::Failure::CouldNotWrite) return kNotEnoughVideoBody;
    std::string reason = result.reason;
    while (!reason.empty() && (reason.back() == '.' || reason.back() == ' ')) reason.pop_back();
    if (reason.empty()) return "Could not write the clip.";
    return "Could not write the clip: " + reason;
}

}  // namespace corvane
