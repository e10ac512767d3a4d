#pragma once

// System-wide key grabs on X11: XGrabKey on the root window through a connection of its own.
//
// Each combination is grabbed with all four Lock/NumLock variants so it works whatever their
// state; a combination counts as bound only when all four were. The notation's key goes to a
// keysym and then to whichever key code carries it in the current layout (X11KeyMapping.h).
// Presses arrive through a QSocketNotifier on the connection, so the activation handler runs on
// the thread that created the backend (the main thread; a Qt event loop must run there).
// Holding a combination down reports one press, not one per auto-repeat. After a keyboard
// mapping change every grab is made again on the keys that now carry its keysym. Suspending
// releases the grabs on the server (the keys then reach the focused window) and keeps the set.
//
// Log line numbers: BadAccess (10) for a combination held by another program or by an earlier
// binding of the same set, -1 for a key that no key of the layout carries.
//
// Thread: create, call and destroy on the main thread.

#include <cstddef>
#include <memory>

#include "core/shortcuts/HotkeyBackend.h"

struct _XDisplay;

namespace corvane {

class X11HotkeyBackend final : public HotkeyBackend {
public:
    // Connects to the display (nullptr: $DISPLAY); nothing when it cannot be opened.
    static std::unique_ptr<X11HotkeyBackend> open(const char* displayName = nullptr);
    ~X11HotkeyBackend() override;
    X11HotkeyBackend(const X11HotkeyBackend&) = delete;
    X11HotkeyBackend& operator=(const X11HotkeyBackend&) = delete;

    // Presses dropped as auto-repeat of a key held down (diagnostics).
    size_t autoRepeatsIgnored() const;

    std::string name() const override;
    void bind(const std::vector<HotkeyBinding>& bindings, BindCompletion done) override;
    void unbindAll() override;
    void setSuspended(bool suspended) override;
    void setActivationHandler(ActivationHandler handler) override;

private:
    explicit X11HotkeyBackend(_XDisplay* display);

    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace corvane
