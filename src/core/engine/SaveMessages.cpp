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

namespace {

std::string fileName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::vector<std::string> splitSaveSentences(const ClipExportResult& result) {
    if (result.partCount < 2) return {};
    const std::string of = " of " + std::to_string(result.partCount);
    std::vector<std::string> sentences{"The video format changed during the clip, so it was saved as " +
                                       std::to_string(result.partCount) + " files"};
    for (const ClipPartFailure& failed : result.failedParts) {
        sentences.push_back("Part " + std::to_string(failed.part) + of +
                            " could not be written: " + failed.reason);
    }
    return sentences;
}

std::string clipSavedBody(const ClipExportResult& result, const std::string& outputDir,
                          const std::string& shortfall) {
    std::string body = shortfall.empty() ? "" : shortfall + "\n";
    for (const std::string& sentence : splitSaveSentences(result)) body += sentence + "\n";
    for (const std::string& path : result.earlierPaths) body += fileName(path) + "\n";
    return body + fileName(result.path) + "\nSaved in " + outputDir;
}

std::string clipSaveNote(const ClipExportResult& result, const std::string& shortfall) {
    std::vector<std::string> sentences = splitSaveSentences(result);
    if (!sentences.empty() && !result.earlierPaths.empty()) {
        std::string also = "; also written: ";
        for (size_t i = 0; i < result.earlierPaths.size(); ++i)
            also += (i > 0 ? ", " : "") + result.earlierPaths[i];
        sentences.front() += also;
    }
    std::string note = shortfall;
    for (const std::string& sentence : sentences) note += (note.empty() ? "" : ". ") + sentence;
    return note;
}

std::string clipNotSavedBody(const ClipExportResult& result) {
    if (result.failure != ClipExportResult::Failure::CouldNotWrite) return kNotEnoughVideoBody;
    std::string reason = result.reason;
    while (!reason.empty() && (reason.back() == '.' || reason.back() == ' ')) reason.pop_back();
    if (reason.empty()) return "Could not write the clip.";
    return "Could not write the clip: " + reason;
}

}  // namespace corvane
