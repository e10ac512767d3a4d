#include "platform/hotkeys/X11KeyboardLayout.h"

#include <X11/Xlib.h>

#include <string>
#include <vector>

#include "core/shortcuts/X11KeyMapping.h"

namespace corvane {

struct X11KeyboardLayout::Impl {
    std::string displayName;
    bool useEnvironment = true;
    bool opened = false;
    Display* display = nullptr;

    Display* connection() {
        if (!opened) {
            opened = true;
            display = XOpenDisplay(useEnvironment ? nullptr : displayName.c_str());
        }
        return display;
    }
};

X11KeyboardLayout& X11KeyboardLayout::shared() {
    static X11KeyboardLayout instance;
    return instance;
}

X11KeyboardLayout::X11KeyboardLayout(const char* displayName) : impl_(std::make_unique<Impl>()) {
    if (displayName) {
        impl_->displayName = displayName;
        impl_->useEnvironment = false;
    }
}

X11KeyboardLayout::~X11KeyboardLayout() {
    if (impl_->display) XCloseDisplay(impl_->display);
}

bool X11KeyboardLayout::isConnected() { return impl_->connection() != nullptr; }

std::optional<uint16_t> X11KeyboardLayout::keyCodeForX11Keycode(uint32_t x11Keycode) {
    Display* display = impl_->connection();
    if (!display) return std::nullopt;
    int minKeycode = 0;
    int maxKeycode = 0;
    XDisplayKeycodes(display, &minKeycode, &maxKeycode);
    // Out of range would be a BadValue error, which ends the process under Xlib's default handler.
    if (x11Keycode < static_cast<uint32_t>(minKeycode) ||
        x11Keycode > static_cast<uint32_t>(maxKeycode)) {
        return std::nullopt;
    }
    int perKeycode = 0;
    KeySym* syms = XGetKeyboardMapping(display, static_cast<KeyCode>(x11Keycode), 1, &perKeycode);
    if (!syms) return std::nullopt;
    std::vector<uint32_t> levels;
    for (int i = 0; i < perKeycode; ++i) levels.push_back(static_cast<uint32_t>(syms[i]));
    XFree(syms);
    return keyCodeForX11Keysyms(levels);
}

}  // namespace corvane
