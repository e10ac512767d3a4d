#include "platform/events/XModeKeeper.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

namespace corvane::test {

std::shared_ptr<void> keepExtraMode(const std::string& display, std::string modeName) {
    Display* d = XOpenDisplay(display.c_str());
    if (!d) return nullptr;
    std::shared_ptr<void> connection(d, [](void* p) { XCloseDisplay(static_cast<Display*>(p)); });
    XRRScreenResources* res = XRRGetScreenResourcesCurrent(d, DefaultRootWindow(d));
    if (!res) return nullptr;
    // The usual 720p60 timings.
    XRRModeInfo mode{0, 1280, 720, 74250000, 1390, 1430, 1650, 0, 725, 730, 750,
                     modeName.data(), static_cast<unsigned>(modeName.size()), 0};
    const RRMode id = res->noutput > 0 ? XRRCreateMode(d, DefaultRootWindow(d), &mode) : 0;
    if (id) XRRAddOutputMode(d, res->outputs[0], id);
    XSync(d, False);
    XRRFreeScreenResources(res);
    return id ? connection : nullptr;
}

}  // namespace corvane::test
