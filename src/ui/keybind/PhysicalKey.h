#pragma once

// Which key a key event came from, in the shortcut notation, and which modifiers were held.
// The keyboard layout of the platform (handed in by the program) reads the event's native key
// code, so Super+Shift+1 is the "1" key even though Qt reports the shifted "!". Where it cannot
// (no layout, no native code, a synthetic event) Qt's key stands in, which is right for
// unshifted keys only.
//
// Thread: main thread.

#include "core/shortcuts/KeyboardLayout.h"

class QKeyEvent;

namespace corvane {

PhysicalKeyPress physicalKeyOf(const QKeyEvent& event, KeyboardLayout* layout);

}  // namespace corvane
