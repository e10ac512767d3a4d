#pragma once

// System-wide key grabs on X11: XGrabKey on the root window through a connection of its own.
//
// Each combination is grabbed with all four Lock/NumLock variants so it works whatever their
// state; a combination counts as granted only when all four were. Presses arrive through a
// QSocketNotifier on the connection, so the press handler runs on the thread that created the
// backend (the main thread; a Qt event loop must run there). Holding a combination down reports
// one press, not one per auto-repeat. After a keyboard mapping change every grab is made again
// on the keys that now carry its keysym.
//
// Without a display (DISPLAY unset or unreachable) every grab fails with kHotkeyStatusNoDisplay
// and one "[Corvane] " line says why at construction.
//
// Thread: create, call and destroy on the main thread.

#include <cstddef>
#include <memory>

#include "core/shortcuts/HotkeyBackend.h"

namespace corvane {

class X11HotkeyBackend final : public HotkeyBackend {
public:
    // displayName: nullptr for $DISPLAY.
    explicit X11HotkeyBackend(const char* displayName = nullptr);
    ~X11HotkeyBackend() override;
    X11HotkeyBackend(const X11HotkeyBackend&) = delete;
    X11HotkeyBackend& operator=(const X11HotkeyBackend&) = delete;

    bool isConnected() const;
    // Presses dropped as auto-repeat of a key held down (diagnostics).
    size_t autoRepeatsIgnored() const;

    HotkeyGrabStatus grab(uint32_t grabId, uint32_t keysym, uint32_t x11Modifiers) override;
    void ungrab(uint32_t grabId) override;
    void setPressHandler(PressHandler handler) override;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace corvane
