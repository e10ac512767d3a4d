#pragma once

// The text notation of a key combination ("Super+Shift+1"): reading, writing, key names and the
// form shown to people. Pure functions, callable from any thread.
//
// The logo key is written "Super" and read as "Super", "Meta", "Cmd" or "Command"; Alt is
// written "Alt" and read as "Alt", "Opt" or "Option". Files written by earlier versions
// ("Cmd+Shift+1", "Ctrl+Opt+F2") therefore keep working unchanged.
//
// Key codes are the virtual key codes of a US-layout keyboard as stored by earlier versions of
// the configuration (A = 0, 1 = 18, F1 = 122 ...); the modifier bits are fixed values of the
// stored format. Each hotkey back end maps them to its platform's keys when it binds.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvane {

inline constexpr uint32_t kCmdKeyMask = 0x100;     // the logo key: Super (X11 Mod4)
inline constexpr uint32_t kShiftKeyMask = 0x200;
inline constexpr uint32_t kOptionKeyMask = 0x800;  // Alt (X11 Mod1)
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

// The written form: "Super", "Ctrl", "Alt", "Shift" for the modifiers present, in that order,
// then the key's written name, joined with "+". Nothing when the key has no written name.
std::optional<std::string> shortcutText(uint16_t keyCode, uint32_t modifiers);

// `text` in the written form when it reads and its key has a written name ("shift+cmd+1" gives
// "Super+Shift+1"); otherwise `text` unchanged. For writers that respell a stored shortcut.
std::string writtenShortcut(std::string_view text);

// The form shown wherever a person reads a shortcut (settings field, tray menu, log): the
// modifiers named "Super", "Ctrl", "Alt", "Shift" in that order whatever the order in the text,
// then the key's written name, joined with "+" ("cmd+shift+return" gives "Super+Shift+Return").
// The key is not checked: a part that names no key is shown in capitals ("Ctrl+FOO"); Escape is
// "Esc". Blank text gives "Record shortcut".
std::string displayString(std::string_view text);

}  // namespace corvane
