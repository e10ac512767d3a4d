#include "core/shortcuts/ShortcutNotation.h"

#include <array>
#include <utility>
#include <vector>

namespace corvane {
namespace {

struct NamedKey {
    std::string_view name;
    uint16_t keyCode;
};

// Names accepted when reading, lower case.
constexpr std::array kReadingNames = {
    NamedKey{"a", 0},       NamedKey{"b", 11},       NamedKey{"c", 8},
    NamedKey{"d", 2},       NamedKey{"e", 14},       NamedKey{"f", 3},
    NamedKey{"g", 5},       NamedKey{"h", 4},        NamedKey{"i", 34},
    NamedKey{"j", 38},      NamedKey{"k", 40},       NamedKey{"l", 37},
    NamedKey{"m", 46},      NamedKey{"n", 45},       NamedKey{"o", 31},
    NamedKey{"p", 35},      NamedKey{"q", 12},       NamedKey{"r", 15},
    NamedKey{"s", 1},       NamedKey{"t", 17},       NamedKey{"u", 32},
    NamedKey{"v", 9},       NamedKey{"w", 13},       NamedKey{"x", 7},
    NamedKey{"y", 16},      NamedKey{"z", 6},        NamedKey{"1", 18},
    NamedKey{"2", 19},      NamedKey{"3", 20},       NamedKey{"4", 21},
    NamedKey{"5", 23},      NamedKey{"6", 22},       NamedKey{"7", 26},
    NamedKey{"8", 28},      NamedKey{"9", 25},       NamedKey{"0", 29},
    NamedKey{"f1", 122},    NamedKey{"f2", 120},     NamedKey{"f3", 99},
    NamedKey{"f4", 118},    NamedKey{"f5", 96},      NamedKey{"f6", 97},
    NamedKey{"f7", 98},     NamedKey{"f8", 100},     NamedKey{"f9", 101},
    NamedKey{"f10", 109},   NamedKey{"f11", 103},    NamedKey{"f12", 111},
    NamedKey{"space", 49},  NamedKey{"return", 36},  NamedKey{"enter", 36},
    NamedKey{"tab", 48},    NamedKey{"escape", 53},  NamedKey{"esc", 53},
    NamedKey{"up", 126},    NamedKey{"uparrow", 126}, NamedKey{"down", 125},
    NamedKey{"downarrow", 125}, NamedKey{"left", 123}, NamedKey{"leftarrow", 123},
    NamedKey{"right", 124}, NamedKey{"rightarrow", 124}, NamedKey{"-", 27},
    NamedKey{"=", 24},      NamedKey{"[", 33},       NamedKey{"]", 30},
    NamedKey{";", 41},      NamedKey{"'", 39},       NamedKey{",", 43},
    NamedKey{".", 47},      NamedKey{"/", 44},       NamedKey{"\\", 42},
};

// Names written by the program.
constexpr std::array kWrittenNames = {
    NamedKey{"A", 0},      NamedKey{"B", 11},     NamedKey{"C", 8},      NamedKey{"D", 2},
    NamedKey{"E", 14},     NamedKey{"F", 3},      NamedKey{"G", 5},      NamedKey{"H", 4},
    NamedKey{"I", 34},     NamedKey{"J", 38},     NamedKey{"K", 40},     NamedKey{"L", 37},
    NamedKey{"M", 46},     NamedKey{"N", 45},     NamedKey{"O", 31},     NamedKey{"P", 35},
    NamedKey{"Q", 12},     NamedKey{"R", 15},     NamedKey{"S", 1},      NamedKey{"T", 17},
    NamedKey{"U", 32},     NamedKey{"V", 9},      NamedKey{"W", 13},     NamedKey{"X", 7},
    NamedKey{"Y", 16},     NamedKey{"Z", 6},      NamedKey{"1", 18},     NamedKey{"2", 19},
    NamedKey{"3", 20},     NamedKey{"4", 21},     NamedKey{"5", 23},     NamedKey{"6", 22},
    NamedKey{"7", 26},     NamedKey{"8", 28},     NamedKey{"9", 25},     NamedKey{"0", 29},
    NamedKey{"0", 82},     NamedKey{"1", 83},     NamedKey{"2", 84},     NamedKey{"3", 85},
    NamedKey{"4", 86},     NamedKey{"5", 87},     NamedKey{"6", 88},     NamedKey{"7", 89},
    NamedKey{"8", 91},     NamedKey{"9", 92},     NamedKey{"F1", 122},   NamedKey{"F2", 120},
    NamedKey{"F3", 99},    NamedKey{"F4", 118},   NamedKey{"F5", 96},    NamedKey{"F6", 97},
    NamedKey{"F7", 98},    NamedKey{"F8", 100},   NamedKey{"F9", 101},   NamedKey{"F10", 109},
    NamedKey{"F11", 103},  NamedKey{"F12", 111},  NamedKey{"Return", 36}, NamedKey{"Tab", 48},
    NamedKey{"Space", 49}, NamedKey{"Left", 123}, NamedKey{"Right", 124}, NamedKey{"Down", 125},
    NamedKey{"Up", 126},   NamedKey{"-", 27},     NamedKey{"=", 24},     NamedKey{"[", 33},
    NamedKey{"]", 30},     NamedKey{";", 41},     NamedKey{"'", 39},     NamedKey{",", 43},
    NamedKey{".", 47},     NamedKey{"/", 44},     NamedKey{"\\", 42},
};

// "command" is the logo key (Super), "option" is Alt: the stored format's names for them.
enum class ModifierName { none, command, shift, option, control };

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return text;
}

std::string lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

std::string uppered(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
}

ModifierName modifierNamed(std::string_view lowerName) {
    if (lowerName == "super" || lowerName == "meta" || lowerName == "cmd" || lowerName == "command") {
        return ModifierName::command;
    }
    if (lowerName == "shift") return ModifierName::shift;
    if (lowerName == "opt" || lowerName == "option" || lowerName == "alt") {
        return ModifierName::option;
    }
    if (lowerName == "ctrl" || lowerName == "control") return ModifierName::control;
    return ModifierName::none;
}

uint32_t maskOf(ModifierName modifier) {
    switch (modifier) {
        case ModifierName::command: return kCmdKeyMask;
        case ModifierName::shift: return kShiftKeyMask;
        case ModifierName::option: return kOptionKeyMask;
        case ModifierName::control: return kControlKeyMask;
        case ModifierName::none: break;
    }
    return 0;
}

// Splits at every "+", keeping empty parts, each part trimmed and lower-cased.
std::vector<std::string> lowerParts(std::string_view text) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        const size_t plus = text.find('+', start);
        const std::string_view part =
            text.substr(start, plus == std::string_view::npos ? std::string_view::npos : plus - start);
        parts.push_back(lowered(trimmed(part)));
        if (plus == std::string_view::npos) break;
        start = plus + 1;
    }
    return parts;
}

std::string keyDisplayText(const std::string& lowerKey) {
    if (const std::optional<uint16_t> code = keycodeForString(lowerKey)) {
        if (std::optional<std::string> name = keyName(*code)) return *name;
        if (*code == kKeyCodeEscape) return "Esc";
    }
    return uppered(lowerKey);
}

}  // namespace

std::optional<ParsedShortcut> parseShortcut(std::string_view text) {
    uint32_t mask = 0;
    std::optional<std::string> keyPart;
    for (std::string& part : lowerParts(text)) {
        const ModifierName modifier = modifierNamed(part);
        if (modifier != ModifierName::none) {
            mask |= maskOf(modifier);
        } else {
            keyPart = std::move(part);
        }
    }
    if (!keyPart) return std::nullopt;
    const std::optional<uint16_t> keyCode = keycodeForString(*keyPart);
    if (!keyCode) return std::nullopt;
    return ParsedShortcut{*keyCode, mask};
}

std::optional<uint16_t> keycodeForString(std::string_view name) {
    const std::string lower = lowered(name);
    for (const NamedKey& key : kReadingNames) {
        if (key.name == lower) return key.keyCode;
    }
    return std::nullopt;
}

std::optional<std::string> keyName(uint16_t keyCode) {
    for (const NamedKey& key : kWrittenNames) {
        if (key.keyCode == keyCode) return std::string(key.name);
    }
    return std::nullopt;
}

bool isFunctionKey(uint16_t keyCode) {
    switch (keyCode) {
        case 96: case 97: case 98: case 99: case 100: case 101:
        case 103: case 109: case 111: case 118: case 120: case 122:
            return true;
        default:
            return false;
    }
}

std::optional<std::string> shortcutText(uint16_t keyCode, uint32_t modifiers) {
    std::optional<std::string> name = keyName(keyCode);
    if (!name) return std::nullopt;
    std::string text;
    if (modifiers & kCmdKeyMask) text += "Super+";
    if (modifiers & kControlKeyMask) text += "Ctrl+";
    if (modifiers & kOptionKeyMask) text += "Alt+";
    if (modifiers & kShiftKeyMask) text += "Shift+";
    return text + *name;
}

std::string writtenShortcut(std::string_view text) {
    if (const std::optional<ParsedShortcut> parsed = parseShortcut(text)) {
        if (std::optional<std::string> written = shortcutText(parsed->keyCode, parsed->modifiers)) {
            return *written;
        }
    }
    return std::string(text);
}

std::string displayString(std::string_view text) {
    const std::string_view whole = trimmed(text);
    if (whole.empty()) return "Record shortcut";

    uint32_t mask = 0;
    std::string key;
    for (const std::string& part : lowerParts(whole)) {
        const ModifierName modifier = modifierNamed(part);
        if (modifier == ModifierName::none) {
            key = keyDisplayText(part);
        } else {
            mask |= maskOf(modifier);
        }
    }

    std::string shown;
    for (const auto& [bit, name] : {std::pair{kCmdKeyMask, "Super"}, std::pair{kControlKeyMask, "Ctrl"},
                                    std::pair{kOptionKeyMask, "Alt"}, std::pair{kShiftKeyMask, "Shift"}}) {
        if ((mask & bit) == 0) continue;
        if (!shown.empty()) shown += '+';
        shown += name;
    }
    if (!key.empty()) {
        if (!shown.empty()) shown += '+';
        shown += key;
    }
    return shown;
}

}  // namespace corvane
