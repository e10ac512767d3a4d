#pragma once

// Which key of the shortcut notation a key event came from, as the platform's keyboard layout
// says. The shortcut recorder asks it so that a recorded combination names the key that the
// hotkey back end binds: Super+Shift+1 is "1", not the "!" that Shift makes of it.
// Implemented by the platform layer (X11KeyboardLayout) and by fakes in tests.
//
// Thread: main thread.

#include <cstdint>
#include <optional>

namespace corvane {

struct PhysicalKeyPress {
    std::optional<uint16_t> keyCode;  // notation key code; nothing: a key the notation cannot name
    uint32_t modifiers = 0;           // notation modifier bits held at the press
    bool operator==(const PhysicalKeyPress&) const = default;
};

class KeyboardLayout {
public:
    virtual ~KeyboardLayout() = default;

    // The key of an event given in the platform's own terms (on X11 the X key code and modifier
    // state that a Qt key event carries as its native scan code and modifiers). Nothing when the
    // layout cannot read such an event (no native code, another platform's event): the caller
    // then goes by the toolkit's key.
    virtual std::optional<PhysicalKeyPress> keyOf(uint32_t nativeKeyCode,
                                                  uint32_t nativeModifiers) = 0;
};

}  // namespace corvane
