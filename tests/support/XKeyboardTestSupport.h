#pragma once

// The "user's keyboard" (and pointer) on the test session's X server (XTest). Include after Qt headers:
// Xlib's macros (None, Bool, Status, KeyPress) clash with names in them.

#include <initializer_list>

#include "support/QtEventWait.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace corvane::test {

// An own connection to $DISPLAY (get() is null without one), pressing keys through XTest.
class XKeyboard {
public:
    XKeyboard() : display_(XOpenDisplay(nullptr)) {}
    ~XKeyboard() {
        if (display_) XCloseDisplay(display_);
    }
    XKeyboard(const XKeyboard&) = delete;
    XKeyboard& operator=(const XKeyboard&) = delete;

    Display* get() const { return display_; }
    KeyCode keycode(KeySym keysym) const { return XKeysymToKeycode(display_, keysym); }

    void key(KeySym keysym, bool down) { rawKey(keycode(keysym), down); }
    void rawKey(KeyCode code, bool down) {
        XTestFakeKeyEvent(display_, code, down ? True : False, CurrentTime);
    }
    // Presses the modifiers, taps the key, releases in reverse order, and flushes.
    void chord(std::initializer_list<KeySym> modifiers, KeySym keysym) {
        chordOn(modifiers, keycode(keysym));
    }
    void chordOn(std::initializer_list<KeySym> modifiers, KeyCode code) {
        for (KeySym m : modifiers) key(m, true);
        rawKey(code, true);
        rawKey(code, false);
        for (auto it = std::rbegin(modifiers); it != std::rend(modifiers); ++it) key(*it, false);
        XSync(display_, False);
    }
    void tap(KeySym keysym) { chord({}, keysym); }

    // Moves the pointer to (x, y) of the screen and clicks `button` (1 left, 3 right).
    void clickAt(int x, int y, unsigned button) {
        XTestFakeMotionEvent(display_, -1, x, y, CurrentTime);
        XTestFakeButtonEvent(display_, button, True, CurrentTime);
        XTestFakeButtonEvent(display_, button, False, CurrentTime);
        XSync(display_, False);
    }

private:
    Display* display_;
};

}  // namespace corvane::test
