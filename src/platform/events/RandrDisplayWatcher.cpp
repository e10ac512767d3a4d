#include "platform/events/RandrDisplayWatcher.h"

#include <QSocketNotifier>

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

namespace corvane {

RandrDisplayWatcher::RandrDisplayWatcher(QObject* parent) : QObject(parent) {}

RandrDisplayWatcher::~RandrDisplayWatcher() { stop(); }

bool RandrDisplayWatcher::start(std::function<void()> onChanged, const char* displayName) {
    onChanged_ = std::move(onChanged);
    if (display_) return true;
    display_ = XOpenDisplay(displayName);
    if (!display_) return false;
    int errorBase = 0;
    if (!XRRQueryExtension(display_, &eventBase_, &errorBase)) {
        XCloseDisplay(display_);
        display_ = nullptr;
        return false;
    }
    XRRSelectInput(display_, DefaultRootWindow(display_),
                   RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask | RROutputChangeNotifyMask);
    lastLayout_ = layout();
    XFlush(display_);
    notifier_ = std::make_unique<QSocketNotifier>(ConnectionNumber(display_), QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { drainEvents(); });
    return true;
}

void RandrDisplayWatcher::stop() {
    notifier_.reset();
    if (display_) {
        XCloseDisplay(display_);
        display_ = nullptr;
    }
    onChanged_ = nullptr;
}

void RandrDisplayWatcher::drainEvents() {
    if (!display_) return;
    bool randrEvent = false;
    // Reading the layout can pull more events into Xlib's queue, which the socket notifier
    // would not announce again: loop until the queue is empty.
    for (;;) {
        while (XPending(display_) > 0) {
            XEvent event;
            XNextEvent(display_, &event);
            XRRUpdateConfiguration(&event);
            if (event.type == eventBase_ + RRScreenChangeNotify ||
                event.type == eventBase_ + RRNotify) {
                randrEvent = true;
            }
        }
        if (!randrEvent) return;
        randrEvent = false;
        std::vector<long> now = layout();
        if (now != lastLayout_) {
            lastLayout_ = std::move(now);
            if (onChanged_) onChanged_();
            if (!display_) return;  // stopped from the handler
        }
        if (XEventsQueued(display_, QueuedAlready) == 0) return;
    }
}

std::vector<long> RandrDisplayWatcher::layout() const {
    std::vector<long> out;
    Window root = DefaultRootWindow(display_);
    out.push_back(DisplayWidth(display_, DefaultScreen(display_)));
    out.push_back(DisplayHeight(display_, DefaultScreen(display_)));
    XRRScreenResources* resources = XRRGetScreenResourcesCurrent(display_, root);
    if (!resources) return out;
    for (int i = 0; i < resources->ncrtc; ++i) {
        XRRCrtcInfo* crtc = XRRGetCrtcInfo(display_, resources, resources->crtcs[i]);
        if (!crtc) continue;
        out.insert(out.end(), {long(resources->crtcs[i]), long(crtc->mode), long(crtc->x),
                               long(crtc->y), long(crtc->width), long(crtc->height),
                               long(crtc->rotation), long(crtc->noutput)});
        for (int o = 0; o < crtc->noutput; ++o) out.push_back(long(crtc->outputs[o]));
        XRRFreeCrtcInfo(crtc);
    }
    XRRFreeScreenResources(resources);
    return out;
}

}  // namespace corvane
