#pragma once

// Which notation key a physical X key is, read from the server's current keyboard mapping
// through the same keysym table that X11HotkeyBackend grabs with, so a recorded combination is
// the one that gets grabbed.
//
// Thread: main thread. Holds its own Xlib connection.

#include <cstdint>
#include <memory>
#include <optional>

#include "core/shortcuts/KeyboardLayout.h"

struct _XDisplay;

namespace corvane {

class X11KeyboardLayout final : public KeyboardLayout {
public:
    // Connects to the display (nullptr: $DISPLAY); nothing when it cannot be opened.
    static std::unique_ptr<X11KeyboardLayout> open(const char* displayName = nullptr);
    ~X11KeyboardLayout() override;
    X11KeyboardLayout(const X11KeyboardLayout&) = delete;
    X11KeyboardLayout& operator=(const X11KeyboardLayout&) = delete;

    // nativeKeyCode: the X key code (a Qt key event's native scan code on X11); nativeModifiers:
    // the X modifier state. Nothing for a zero key code (not an X event).
    std::optional<PhysicalKeyPress> keyOf(uint32_t nativeKeyCode, uint32_t nativeModifiers) override;

    // The notation key code of an X key code; nothing for keys the notation cannot name and
    // out-of-range codes. Reads the mapping afresh each time (one round trip), so layout changes
    // are seen at once.
    std::optional<uint16_t> keyCodeForX11Keycode(uint32_t x11Keycode);

private:
    explicit X11KeyboardLayout(_XDisplay* display) : display_(display) {}

    _XDisplay* display_;
};

}  // namespace corvane
