#pragma once

// The mapping between the shortcut notation and X11 key symbols and modifier masks. Pure
// functions, any thread, no connection: the keysym and mask values are fixed by the X protocol,
// so they are spelled out here and the table is tested without a server.
//
// Super (the logo key) is Mod4, Alt is Mod1. Grabbing goes notation -> keysym ->
// keycode of the current layout (X11HotkeyBackend); the recorder goes physical keycode ->
// keysyms -> notation (X11KeyboardLayout), so a shortcut recorded by pressing it is the one
// that gets grabbed.

#include <cstdint>
#include <optional>
#include <span>

#include "core/shortcuts/ShortcutNotation.h"  // the notation's key codes and modifier bits

namespace corvane {

inline constexpr uint32_t kX11ShiftMask = 1u << 0;
inline constexpr uint32_t kX11LockMask = 1u << 1;
inline constexpr uint32_t kX11ControlMask = 1u << 2;
inline constexpr uint32_t kX11Mod1Mask = 1u << 3;  // Alt
inline constexpr uint32_t kX11Mod2Mask = 1u << 4;  // usually NumLock
inline constexpr uint32_t kX11Mod4Mask = 1u << 6;  // Super

// The keysym that registration grabs for a notation key code; nothing for codes that no name
// reaches.
std::optional<uint32_t> x11KeysymForKeyCode(uint16_t keyCode);

// Notation modifier bits -> X modifier mask.
uint32_t x11ModifiersForMask(uint32_t modifierMask);

// The notation key code of one keysym (either letter case; keypad digits to the keypad codes;
// BackSpace and Delete to the two delete codes). Nothing for keysyms the notation cannot name.
std::optional<uint16_t> keyCodeForX11Keysym(uint32_t keysym);

// The notation key code of a physical key given its keysyms by shift level (level 0 first):
// the first level whose keysym is known. Level 0 decides on a US layout; a keypad digit (level 0
// is a navigation symbol) and layouts with digits on the shifted level still find their key.
std::optional<uint16_t> keyCodeForX11Keysyms(std::span<const uint32_t> keysymsByLevel);

// X modifier state of an event -> notation modifier bits. Lock, NumLock and other modifiers
// are ignored.
uint32_t modifierMaskForX11State(uint32_t state);

}  // namespace corvane
