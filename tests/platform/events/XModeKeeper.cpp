#include "platform/events/XModeKeeper.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

namespace corvane::test {

XModeKeeper::XModeKeeper(const std::string& display, const std::string& modeName) {
    Display* d = XOpenDisplay(display.c_str());
    display_ = d;
    if (!d) return;
    Window root = DefaultRootWindow(d);
    XRRScreenResources* res = XRRGetScreenResourcesCurrent(d, root);
    if (!res || res->noutput == 0) {
        if (res) XRRFreeScreenResources(res);
        return;
    }
    XRRModeInfo* mode = XRRAllocModeInfo(modeName.c_str(), int(modeName.size()));
    mode->width = 1280;
    mode->height = 720;
    mode->dotClock = 74250000;
    mode->hSyncStart = 1390;
    mode->hSyncEnd = 1430;
    mode->hTotal = 1650;
    mode->vSyncStart = 725;
    mode->vSyncEnd = 730;
    mode->vTotal = 750;
    RRMode id = XRRCreateMode(d, root, mode);
    XRRAddOutputMode(d, res->outputs[0], id);
    XSync(d, False);
    XRRFreeModeInfo(mode);
    XRRFreeScreenResources(res);
    ok_ = id != 0;
}

XModeKeeper::~XModeKeeper() {
    if (display_) XCloseDisplay(static_cast<Display*>(display_));
}

}  // namespace corvane::test
