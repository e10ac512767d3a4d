#pragma once

// Which notation key a physical X key is, read from the server's current keyboard mapping.
// The shortcut recorder uses it so that a recorded combination names the same key that
// X11HotkeyBackend grabs: Super+Shift+1 is "1", not the "!" that Shift makes of it.
//
// Thread: main thread. Holds its own Xlib connection, opened on first use.

#include <cstdint>
#include <memory>
#include <optional>

namespace corvane {

class X11KeyboardLayout {
public:
    // The process-wide instance (the mapping is the server's, one connection is enough).
    static X11KeyboardLayout& shared();

    // displayName: nullptr for $DISPLAY.
    explicit X11KeyboardLayout(const char* displayName = nullptr);
    ~X11KeyboardLayout();
    X11KeyboardLayout(const X11KeyboardLayout&) = delete;
    X11KeyboardLayout& operator=(const X11KeyboardLayout&) = delete;

    bool isConnected();

    // The notation key code of an X key code (the native scan code of a Qt key event on X11);
    // nothing for keys the notation cannot name, out-of-range codes or without a display.
    // Reads the mapping afresh each time (one round trip), so layout changes are seen at once.
    std::optional<uint16_t> keyCodeForX11Keycode(uint32_t x11Keycode);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace corvane
