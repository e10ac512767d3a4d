#pragma once

#include <string>

#include "core/export/ClipExporter.h"

namespace corvane {

// The user-facing texts of a clip save (desktop notifications). Pure functions.

inline constexpr const char* kClipNotSavedTitle = "Corvane - Clip not saved";
inline constexpr const char* kNotEnoughVideoBody = "Not enough video recorded yet to save a clip.";

// "Corvane - Clip saved (Ns)": N is the written length rounded to whole seconds (halves away
// from zero), at least 1.
std::string clipSavedTitle(double actualSeconds);
// The file name, a line feed, then "Saved in " and the clips folder as configured (a leading
// "~" stays).
std::string clipSavedBody(const std::string& path, const std::string& outputDir);
// Why nothing was saved: too little video, or the write failure with the system's reason.
std::string clipNotSavedBody(const ClipExportResult& result);

}  // namespace corvane
