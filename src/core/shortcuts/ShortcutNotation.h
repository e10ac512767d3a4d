#pragma once

// The text notation of a key combination ("Cmd+Shift+1"): reading, writing, key names and the
// symbol form shown in the settings. Pure functions, callable from any thread.
//
// Key codes are the virtual key codes of a US-layout keyboard as stored by earlier versions of
// the configuration (A = 0, 1 = 18, F1 = 122 ...); the modifier bits are fixed values of the
// stored format. Each hotkey back end maps them to its platform's keys when it binds.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvane {

inline constexpr uint32_t kCmdKeyMask = 0x100;
inline constexpr uint32_t kShiftKeyMask = 0x200;
inline constexpr uint32_t kOptionKeyMask = 0x800;
inline constexpr uint32_t kControlKeyMask = 0x1000;

// Key codes with their own meaning while recording (the Backspace, Delete and Escape keys).
inline constexpr uint16_t kKeyCodeBackspace = 51;
inline constexpr uint16_t kKeyCodeForwardDelete = 117;
inline constexpr uint16_t kKeyCodeEscape = 53;

struct ParsedShortcut {
    uint16_t keyCode = 0;
    uint32_t modifiers = 0;
    bool operator==(const ParsedShortcut&) const = default;
};

// Reads a shortcut text. Parts are separated by "+", trimmed and compared case-insensitively;
// modifiers may come in any order and repeat; the last non-modifier part is the key.
// Nothing when there is no key or the key has no name.
std::optional<ParsedShortcut> parseShortcut(std::string_view text);

// The key code of a key name ("a", "F5", "esc", "/" ...), case-insensitive.
std::optional<uint16_t> keycodeForString(std::string_view name);

// The name the program writes for a key code ("A", "F5", "Return"); keypad digits are written
// as plain digits. Nothing for keys without a written name (Escape, Delete, Home ...).
std::optional<std::string> keyName(uint16_t keyCode);

// True exactly for F1 to F12.
bool isFunctionKey(uint16_t keyCode);

// The written form: "Cmd", "Ctrl", "Opt", "Shift" for the modifiers present, in that order,
// then the key's written name, joined with "+". Nothing when the key has no written name.
std::optional<std::string> shortcutText(uint16_t keyCode, uint32_t modifiers);

// The compact symbol form shown in the settings ("⇧ ⌘ 1"), UTF-8. The key is not checked:
// an unknown key part is shown in capitals. Blank text gives "Record shortcut".
std::string displayString(std::string_view text);

}  // namespace corvane
