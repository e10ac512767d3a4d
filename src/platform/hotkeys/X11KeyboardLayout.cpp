#include "platform/hotkeys/X11KeyboardLayout.h"

#include <X11/Xlib.h>

#include <vector>

#include "platform/hotkeys/X11KeyMapping.h"

namespace corvane {

std::unique_ptr<X11KeyboardLayout> X11KeyboardLayout::open(const char* displayName) {
    Display* display = XOpenDisplay(displayName);
    if (!display) return nullptr;
    return std::unique_ptr<X11KeyboardLayout>(new X11KeyboardLayout(display));
}

X11KeyboardLayout::~X11KeyboardLayout() { XCloseDisplay(display_); }

std::optional<PhysicalKeyPress> X11KeyboardLayout::keyOf(uint32_t nativeKeyCode,
                                                         uint32_t nativeModifiers) {
    if (nativeKeyCode == 0) return std::nullopt;
    return PhysicalKeyPress{keyCodeForX11Keycode(nativeKeyCode),
                            modifierMaskForX11State(nativeModifiers)};
}

std::optional<uint16_t> X11KeyboardLayout::keyCodeForX11Keycode(uint32_t x11Keycode) {
    int minKeycode = 0;
    int maxKeycode = 0;
    XDisplayKeycodes(display_, &minKeycode, &maxKeycode);
    // Out of range would be a BadValue error, which ends the process under Xlib's default handler.
    if (x11Keycode < static_cast<uint32_t>(minKeycode) ||
        x11Keycode > static_cast<uint32_t>(maxKeycode)) {
        return std::nullopt;
    }
    int perKeycode = 0;
    KeySym* syms =
        XGetKeyboardMapping(display_, static_cast<KeyCode>(x11Keycode), 1, &perKeycode);
    if (!syms) return std::nullopt;
    std::vector<uint32_t> levels;
    for (int i = 0; i < perKeycode; ++i) levels.push_back(static_cast<uint32_t>(syms[i]));
    XFree(syms);
    return keyCodeForX11Keysyms(levels);
}

}  // namespace corvane
