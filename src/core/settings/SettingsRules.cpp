#include "core/settings/SettingsRules.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <iterator>

#include "core/config/ConfigReader.h"
#include "core/shortcuts/ShortcutNotation.h"

namespace corvane {

std::string formatFileByteCount(int64_t bytes) {
    if (bytes < 0) bytes = 0;
    if (bytes == 1) return "1 byte";
    if (bytes < 1000) return std::to_string(bytes) + " bytes";
    static constexpr const char* kUnits[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
    double value = static_cast<double>(bytes) / 1000.0;
    size_t unit = 0;
    for (;;) {
        const int decimals = unit == 0 ? 0 : (unit == 1 ? 1 : 2);
        const double scale = std::pow(10.0, decimals);
        const double rounded = std::round(value * scale) / scale;
        // 999.96 MB must read "1 GB", not "1000 MB".
        if (rounded >= 1000.0 && unit + 1 < std::size(kUnits)) {
            value /= 1000.0;
            ++unit;
            continue;
        }
        std::string text = formatFixed(rounded, decimals);
        if (text.find('.') != std::string::npos) {
            while (text.back() == '0') text.pop_back();
            if (text.back() == '.') text.pop_back();
        }
        return text + " " + kUnits[unit];
    }
}

ParsedCaptureTarget parseCaptureTargetText(std::string_view target) {
    using Kind = ParsedCaptureTarget::Kind;
    auto idOf = [](std::string_view rest) -> uint32_t {
        if (rest.empty() || !std::all_of(rest.begin(), rest.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return 0;
        return parseConfigUInt32(rest).value_or(0);
    };
    if (target.starts_with("window:")) return {Kind::window, idOf(target.substr(7))};
    if (target.starts_with("display:")) return {Kind::display, idOf(target.substr(8))};
    return {Kind::other, 0};
}

std::optional<std::string> clipsFolderProblem(std::string_view folder) {
    if (folder.empty()) return "Enter a clips folder.";
    static constexpr std::string_view kBreaks[] = {
        std::string_view("\0", 1), "\n", "\r", "\v", "\f", "\xC2\x85", "\xE2\x80\xA8", "\xE2\x80\xA9"};
    for (std::string_view b : kBreaks) {
        if (folder.find(b) != std::string_view::npos)
            return "The clips folder cannot contain a line break or a NUL character.";
    }
    if (folder.front() == '"' || folder.back() == '"')
        return "The clips folder cannot start or end with a double quote.";
    if (!(folder.front() == '/' || folder == "~" || folder.starts_with("~/")))
        return "The clips folder must be a full path (starting with / or ~/).";
    return std::nullopt;
}

std::string abbreviateHome(std::string_view path, std::string_view home) {
    while (home.size() > 1 && home.back() == '/') home.remove_suffix(1);
    if (home.empty() || home == "/" || !path.starts_with(home)) return std::string(path);
    const std::string_view rest = path.substr(home.size());
    if (rest.empty() || rest.front() == '/') return "~" + std::string(rest);
    return std::string(path);
}

std::string normalizedHotkey(std::string_view hotkey) {
    // Spellings of one combination ("Cmd+Shift+1", "shift+super+1") are the same shortcut.
    const std::string text = writtenShortcut(hotkey);
    std::string out;
    for (char c : text) {
        if (c == ' ' || c == '\t') continue;
        out.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    }
    return out;
}

}  // namespace corvane
