#pragma once

// Helpers for capture tests on a real X server: plain coloured windows and a private server a
// test may take away.
// Include it last: Xlib's macros (None, Bool, Status) break Qt and the test framework.

#include "support/QtEventWait.h"  // Qt first: Xlib's macros follow

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

// An Xvfb of its own (640x480), so a test can shrink it or kill it.
class PrivateXServer {
public:
    PrivateXServer() {
        struct stat st;
        for (int n = 150; n < 250 && name_.empty(); ++n) {
            const std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
            if (stat(socket.c_str(), &st) == 0 || stat(("/tmp/.X" + std::to_string(n) + "-lock").c_str(), &st) == 0)
                continue;
            name_ = ":" + std::to_string(n);
            if ((pid_ = fork()) == 0) {
                execlp("Xvfb", "Xvfb", name_.c_str(), "-screen", "0", "640x480x24", "-noreset", "-nolisten", "tcp",
                       static_cast<char*>(nullptr));
                _exit(127);
            }
            for (int i = 0; i < 200 && stat(socket.c_str(), &st) != 0; ++i) usleep(25'000);  // its socket appears
        }
    }
    ~PrivateXServer() { kill(); }
    // Ends the server the way it cleans up after itself; one that does not end in 2 s is killed
    // and its socket and lock file removed here, or the display number would stay taken.
    void kill() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        int waited = 0;
        while (waitpid(pid_, nullptr, WNOHANG) == 0 && waited++ < 80) usleep(25'000);
        if (waited > 80) {
            ::kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            const std::string n = name_.substr(1);
            unlink(("/tmp/.X11-unix/X" + n).c_str());
            unlink(("/tmp/.X" + n + "-lock").c_str());
        }
        pid_ = -1;
    }
    // Empty when no display number was free: the test must stop, not fall back to $DISPLAY.
    const std::string& name() const { return name_; }

private:
    std::string name_;
    pid_t pid_ = -1;
};

}  // namespace corvane::testing
