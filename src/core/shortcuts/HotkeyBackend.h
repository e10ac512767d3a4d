#pragma once

// The system-wide key grab service under CorvaneHotkeys. Implemented by the platform layer
// (X11HotkeyBackend) and by fakes in tests.
//
// Thread: owned and called on the main thread; presses are delivered on the main thread.

#include <cstdint>
#include <functional>

namespace corvane {

// Status of a grab: 0 when granted, else a non-zero number for the log line. Positive values
// are X protocol error codes (BadAccess = 10: the combination is held by another program, or by
// another registration of this one); negative values are the backend's own.
using HotkeyGrabStatus = int;
inline constexpr HotkeyGrabStatus kHotkeyGrabGranted = 0;
inline constexpr HotkeyGrabStatus kHotkeyStatusTaken = 10;
inline constexpr HotkeyGrabStatus kHotkeyStatusNoKeycode = -1;  // key not on this keyboard
inline constexpr HotkeyGrabStatus kHotkeyStatusNoDisplay = -2;  // no connection to a display

class HotkeyBackend {
public:
    // Called with the grab id of a pressed combination: once per press, never for releases
    // or auto-repeat.
    using PressHandler = std::function<void(uint32_t grabId)>;

    virtual ~HotkeyBackend() = default;

    // Grabs keysym + X modifier mask system-wide under grabId (unique among live grabs; the
    // caller chooses it). The grab must work whatever the Lock and NumLock state. A refused
    // grab leaves nothing behind. Blocking: one round trip to the display server.
    virtual HotkeyGrabStatus grab(uint32_t grabId, uint32_t keysym, uint32_t x11Modifiers) = 0;

    // Releases a grab; unknown ids are ignored.
    virtual void ungrab(uint32_t grabId) = 0;

    virtual void setPressHandler(PressHandler handler) = 0;
};

}  // namespace corvane
