#include "platform/session/DisplayAvailability.h"

#include <X11/Xlib.h>

namespace corvane {

bool canOpenX11Display() {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return false;
    XCloseDisplay(display);
    return true;
}

}  // namespace corvane
