#include "platform/wayland/PortalShortcutTrigger.h"

#include <array>

#include "platform/hotkeys/X11KeyMapping.h"

namespace corvane {
namespace {

// The portal names keys as XKB does, which uses the X keysym names: the notation's keys go to
// the keysyms the X11 grabs use, and the keysyms to their names here.
struct KeysymName {
    uint32_t keysym;
    const char* name;
};

constexpr uint32_t kXkF1 = 0xffbe;
constexpr uint32_t kXkF12 = kXkF1 + 11;
constexpr uint32_t kXkKp0 = 0xffb0;
constexpr uint32_t kXkKp9 = kXkKp0 + 9;

constexpr std::array kNamedKeysyms = {
    KeysymName{0x0020, "space"},       KeysymName{0xff0d, "Return"},     KeysymName{0xff09, "Tab"},
    KeysymName{0xff1b, "Escape"},      KeysymName{0xff52, "Up"},         KeysymName{0xff54, "Down"},
    KeysymName{0xff51, "Left"},        KeysymName{0xff53, "Right"},      KeysymName{0x002d, "minus"},
    KeysymName{0x003d, "equal"},       KeysymName{0x005b, "bracketleft"}, KeysymName{0x005d, "bracketright"},
    KeysymName{0x003b, "semicolon"},   KeysymName{0x0027, "apostrophe"}, KeysymName{0x002c, "comma"},
    KeysymName{0x002e, "period"},      KeysymName{0x002f, "slash"},      KeysymName{0x005c, "backslash"},
    KeysymName{0xff08, "BackSpace"},   KeysymName{0xffff, "Delete"},
};

std::optional<std::string> keysymName(uint32_t keysym) {
    if ((keysym >= 'a' && keysym <= 'z') || (keysym >= '0' && keysym <= '9')) {
        return std::string(1, static_cast<char>(keysym));
    }
    if (keysym >= kXkF1 && keysym <= kXkF12) return "F" + std::to_string(keysym - kXkF1 + 1);
    if (keysym >= kXkKp0 && keysym <= kXkKp9) return "KP_" + std::to_string(keysym - kXkKp0);
    for (const KeysymName& named : kNamedKeysyms) {
        if (named.keysym == keysym) return std::string(named.name);
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> portalTriggerFor(const ParsedShortcut& combination) {
    const std::optional<uint32_t> keysym = x11KeysymForKeyCode(combination.keyCode);
    if (!keysym) return std::nullopt;
    const std::optional<std::string> key = keysymName(*keysym);
    if (!key) return std::nullopt;
    std::string trigger;
    if (combination.modifiers & kControlKeyMask) trigger += "CTRL+";
    if (combination.modifiers & kOptionKeyMask) trigger += "ALT+";
    if (combination.modifiers & kShiftKeyMask) trigger += "SHIFT+";
    if (combination.modifiers & kCmdKeyMask) trigger += "LOGO+";
    return trigger + *key;
}

}  // namespace corvane
