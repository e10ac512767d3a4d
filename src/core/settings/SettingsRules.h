#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvane {

// Byte counts as a file manager shows them, in decimal units: "999 bytes", "218 KB", "6.6 MB",
// "1.25 GB" (whole KB, one decimal for MB, two from GB on, trailing zeros dropped).
std::string formatFileByteCount(int64_t bytes);

// What a capture-target text ("display:<id>", "window:<id>", "window:none") selects.
struct ParsedCaptureTarget {
    enum class Kind { display, window, other };
    Kind kind = Kind::other;
    uint32_t id = 0;  // 0 when the id part is empty or not a decimal number
};
ParsedCaptureTarget parseCaptureTargetText(std::string_view target);

// Why a clips folder cannot be stored, or nullopt when it can. The configuration file has no
// escapes, so a line break, a NUL, or a double quote at either end would break or change the
// file; an empty or relative folder would make clips land somewhere unexpected.
std::optional<std::string> clipsFolderProblem(std::string_view folder);

// `path` with a leading `home` (followed by "/" or the end) written as "~". Other paths, and a
// home that is only a prefix of a longer folder name ("/home/al" vs "/home/alice"), unchanged.
std::string abbreviateHome(std::string_view path, std::string_view home);

// A shortcut text as duplicates are compared, lower-cased: a text that reads as its written form
// (so "Cmd+Shift+1" and "shift+super+1" are the same), any other without spaces and tabs.
std::string normalizedHotkey(std::string_view hotkey);

}  // namespace corvane
