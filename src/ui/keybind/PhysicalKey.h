#pragma once

// Which key a key event came from, in the shortcut notation, and which modifiers were held.
// On X11 the physical key (the event's X key code) is looked up in the server's keyboard
// mapping through the same keysym table that hotkey registration uses, so Super+Shift+1 is the
// "1" key even though Qt reports the shifted "!". Without an X key code (other platforms,
// synthetic events) Qt's key code stands in.
//
// Thread: main thread.

#include <cstdint>
#include <optional>

class QKeyEvent;

namespace corvane {

struct PhysicalKeyPress {
    std::optional<uint16_t> keyCode;  // nothing: a key the notation has no code for
    uint32_t modifiers = 0;           // notation modifier bits
};

PhysicalKeyPress physicalKeyOf(const QKeyEvent& event);

}  // namespace corvane
