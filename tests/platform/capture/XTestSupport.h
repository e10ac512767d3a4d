#pragma once

// Helpers for capture tests on a real X server: plain coloured windows and a private server a
// test may take away.
// Include it last: Xlib's macros (None, Bool, Status) break Qt and the test framework.

#include "platform/events/PrivateServer.h"  // Qt first: Xlib's macros follow
#include "support/QtEventWait.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <string>

namespace corvane::testing {

using test::waitUntil;

class XSession {
public:
    explicit XSession(const char* name = nullptr) : dpy_(XOpenDisplay(name)) {}
    ~XSession() {
        if (dpy_) XCloseDisplay(dpy_);
    }
    Display* get() const { return dpy_; }
    Window root() const { return DefaultRootWindow(dpy_); }

    // A window filled with one colour (0xRRGGBB), mapped and synced. Override-redirect windows
    // keep their position exactly; managed ones get a title and a class.
    Window makeWindow(int x, int y, int w, int h, unsigned long rgb, const std::string& title = {},
                      const std::string& klass = {}, bool overrideRedirect = true) {
        XSetWindowAttributes attrs{};
        attrs.background_pixel = rgb;
        attrs.override_redirect = overrideRedirect;
        Window id = XCreateWindow(dpy_, root(), x, y, unsigned(w), unsigned(h), 0, CopyFromParent, InputOutput,
                                  CopyFromParent, CWBackPixel | CWOverrideRedirect, &attrs);
        if (!title.empty()) {
            XStoreName(dpy_, id, "legacy title");  // the UTF-8 name must win over this
            XChangeProperty(dpy_, id, XInternAtom(dpy_, "_NET_WM_NAME", False), XInternAtom(dpy_, "UTF8_STRING", False),
                            8, PropModeReplace, reinterpret_cast<const unsigned char*>(title.data()), int(title.size()));
        }
        if (!klass.empty()) {
            XClassHint hint{const_cast<char*>("probe"), const_cast<char*>(klass.c_str())};
            XSetClassHint(dpy_, id, &hint);
        }
        XMapRaised(dpy_, id);
        XSync(dpy_, False);
        return id;
    }

private:
    Display* dpy_;
};

// An Xvfb of its own (640x480), so a test can shrink it or stop it. name() is empty when it did
// not start: the test must stop then, not fall back to $DISPLAY.
class PrivateXServer : public test::PrivateServer {
public:
    PrivateXServer()
        : PrivateServer(QStringLiteral("Xvfb"), {"-displayfd", "1", "-screen", "0", "640x480x24", "-noreset",
                                                 "-nolisten", "tcp"}),
          name_(address().isEmpty() ? "" : ":" + address().toStdString()) {}
    const std::string& name() const { return name_; }

private:
    std::string name_;
};

}  // namespace corvane::testing
