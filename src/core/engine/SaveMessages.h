#pragma once

#include <string>
#include <vector>

#include "core/export/ClipExporter.h"

namespace corvane {

// The user-facing texts of a clip save (desktop notifications). Pure functions.

inline constexpr const char* kClipNotSavedTitle = "Corvane - Clip not saved";
inline constexpr const char* kNotEnoughVideoBody = "Not enough video recorded yet to save a clip.";
// The answer to a request for less than a second (or a length that is not a number): such a
// clip would hold a frame or two under a name that claims a second.
inline constexpr const char* kClipTooShort = "The clip length must be at least one second";

// Finite and at least one second.
bool isAcceptableClipLength(double seconds);
// "Saved 53 s of the 601 s asked" when the clip is more than half a second shorter than asked
// (the buffer held less); empty otherwise. Both lengths are rounded to whole seconds.
std::string shortfallNote(double askedSeconds, double savedSeconds);

// "Corvane - Clip saved (Ns)": N is the written length rounded to whole seconds (halves away
// from zero), at least 1.
std::string clipSavedTitle(double actualSeconds);
// For a save written as one file per video format: "The video format changed during the clip, so
// it was saved as 2 files", then "Part 1 of 2 could not be written: <reason>" for each file that
// failed. Empty for a save of one file.
std::vector<std::string> splitSaveSentences(const ClipExportResult& result);
// The lines of the saved notification: the shortfall note when there is one, the split-save
// sentences, the names of the files written (oldest first), then "Saved in " and the clips folder
// as configured (a leading "~" stays).
std::string clipSavedBody(const ClipExportResult& result, const std::string& outputDir,
                          const std::string& shortfall = {});
// The note that goes with the newest file's path to a caller: the shortfall note and the split-save
// sentences, the latter naming the other files ("...; also written: /clips/Clip_..._part1.mp4").
std::string clipSaveNote(const ClipExportResult& result, const std::string& shortfall);
// Why nothing was saved: too little video, or the write failure with the system's reason.
std::string clipNotSavedBody(const ClipExportResult& result);

}  // namespace corvane
