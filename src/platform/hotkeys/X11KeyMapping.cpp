#include "platform/hotkeys/X11KeyMapping.h"

#include <array>

namespace corvane {
namespace {

struct KeysymKey {
    uint16_t keyCode;
    uint32_t keysym;
};

// Keysym values of the X protocol (X11/keysymdef.h).
constexpr uint32_t kXkF1 = 0xffbe;
constexpr uint32_t kXkKp0 = 0xffb0;

// Non-alphanumeric keys; letters, digits, F-keys and keypad digits are computed.
constexpr std::array kOtherKeys = {
    KeysymKey{49, 0x0020},   // space
    KeysymKey{36, 0xff0d},   // Return
    KeysymKey{48, 0xff09},   // Tab
    KeysymKey{53, 0xff1b},   // Escape
    KeysymKey{126, 0xff52},  // Up
    KeysymKey{125, 0xff54},  // Down
    KeysymKey{123, 0xff51},  // Left
    KeysymKey{124, 0xff53},  // Right
    KeysymKey{27, 0x002d},   // minus
    KeysymKey{24, 0x003d},   // equal
    KeysymKey{33, 0x005b},   // bracketleft
    KeysymKey{30, 0x005d},   // bracketright
    KeysymKey{41, 0x003b},   // semicolon
    KeysymKey{39, 0x0027},   // apostrophe
    KeysymKey{43, 0x002c},   // comma
    KeysymKey{47, 0x002e},   // period
    KeysymKey{44, 0x002f},   // slash
    KeysymKey{42, 0x005c},   // backslash
    KeysymKey{kKeyCodeBackspace, 0xff08},      // BackSpace
    KeysymKey{kKeyCodeForwardDelete, 0xffff},  // Delete
};

// Notation key codes of A..Z, 0..9, F1..F12 and keypad 0..9, in keysym order.
constexpr std::array<uint16_t, 26> kLetterCodes = {0,  11, 8,  2,  14, 3,  5, 4,  34,
                                                   38, 40, 37, 46, 45, 31, 35, 12, 15,
                                                   1,  17, 32, 9,  13, 7,  16, 6};
constexpr std::array<uint16_t, 10> kDigitCodes = {29, 18, 19, 20, 21, 23, 22, 26, 28, 25};
constexpr std::array<uint16_t, 12> kFunctionCodes = {122, 120, 99,  118, 96,  97,
                                                     98,  100, 101, 109, 103, 111};
constexpr std::array<uint16_t, 10> kKeypadCodes = {82, 83, 84, 85, 86, 87, 88, 89, 91, 92};

}  // namespace

std::optional<uint32_t> x11KeysymForKeyCode(uint16_t keyCode) {
    for (size_t i = 0; i < kLetterCodes.size(); ++i) {
        if (kLetterCodes[i] == keyCode) return static_cast<uint32_t>('a' + i);
    }
    for (size_t i = 0; i < kDigitCodes.size(); ++i) {
        if (kDigitCodes[i] == keyCode) return static_cast<uint32_t>('0' + i);
    }
    for (size_t i = 0; i < kFunctionCodes.size(); ++i) {
        if (kFunctionCodes[i] == keyCode) return static_cast<uint32_t>(kXkF1 + i);
    }
    for (size_t i = 0; i < kKeypadCodes.size(); ++i) {
        if (kKeypadCodes[i] == keyCode) return static_cast<uint32_t>(kXkKp0 + i);
    }
    for (const KeysymKey& key : kOtherKeys) {
        if (key.keyCode == keyCode) return key.keysym;
    }
    return std::nullopt;
}

uint32_t x11ModifiersForMask(uint32_t modifierMask) {
    uint32_t x = 0;
    if (modifierMask & kCmdKeyMask) x |= kX11Mod4Mask;
    if (modifierMask & kOptionKeyMask) x |= kX11Mod1Mask;
    if (modifierMask & kControlKeyMask) x |= kX11ControlMask;
    if (modifierMask & kShiftKeyMask) x |= kX11ShiftMask;
    return x;
}

std::optional<uint16_t> keyCodeForX11Keysym(uint32_t keysym) {
    if (keysym >= 'a' && keysym <= 'z') return kLetterCodes[keysym - 'a'];
    if (keysym >= 'A' && keysym <= 'Z') return kLetterCodes[keysym - 'A'];
    if (keysym >= '0' && keysym <= '9') return kDigitCodes[keysym - '0'];
    if (keysym >= kXkF1 && keysym < kXkF1 + kFunctionCodes.size()) {
        return kFunctionCodes[keysym - kXkF1];
    }
    if (keysym >= kXkKp0 && keysym < kXkKp0 + kKeypadCodes.size()) {
        return kKeypadCodes[keysym - kXkKp0];
    }
    for (const KeysymKey& key : kOtherKeys) {
        if (key.keysym == keysym) return key.keyCode;
    }
    return std::nullopt;
}

std::optional<uint16_t> keyCodeForX11Keysyms(std::span<const uint32_t> keysymsByLevel) {
    for (const uint32_t keysym : keysymsByLevel) {
        if (keysym == 0) continue;  // NoSymbol
        if (std::optional<uint16_t> code = keyCodeForX11Keysym(keysym)) return code;
    }
    return std::nullopt;
}

uint32_t modifierMaskForX11State(uint32_t state) {
    uint32_t mask = 0;
    if (state & kX11Mod4Mask) mask |= kCmdKeyMask;
    if (state & kX11Mod1Mask) mask |= kOptionKeyMask;
    if (state & kX11ControlMask) mask |= kControlKeyMask;
    if (state & kX11ShiftMask) mask |= kShiftKeyMask;
    return mask;
}

}  // namespace corvane
