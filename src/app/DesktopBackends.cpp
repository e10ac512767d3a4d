#include "app/DesktopBackends.h"

#include <cstdlib>

#include "core/capture/NullScreenCapture.h"
#include "core/shortcuts/NullHotkeyBackend.h"
#include "platform/audio/PulseSystemAudio.h"
#include "platform/hotkeys/X11HotkeyBackend.h"
#include "platform/hotkeys/X11KeyboardLayout.h"
#include "platform/wayland/PortalHotkeyBackend.h"
#include "platform/wayland/PortalScreenCapture.h"
#include "platform/x11/X11ScreenCapture.h"

namespace corvane {
namespace {

void useNullBackends(DesktopBackends& parts, const std::string& reason) {
    parts.screen = std::make_unique<NullScreenCapture>(reason);
    parts.screenName = "none (" + reason + ")";
    parts.audioName = "none";
    auto hotkeys = std::make_unique<NullHotkeyBackend>(reason);
    parts.hotkeysName = hotkeys->name();
    parts.hotkeys = std::move(hotkeys);
}

void useX11(DesktopBackends& parts) {
    parts.screen = std::make_unique<X11ScreenCaptureBackend>();
    parts.screenName = "X11";
    parts.audio = std::make_unique<PulseSystemAudioBackend>();
    parts.audioName = "PulseAudio";
    std::unique_ptr<HotkeyBackend> hotkeys = X11HotkeyBackend::open();
    if (!hotkeys) hotkeys = std::make_unique<NullHotkeyBackend>("cannot open the X display");
    parts.hotkeysName = hotkeys->name();
    parts.hotkeys = std::move(hotkeys);
    parts.keyboardLayout = X11KeyboardLayout::open();
}

// Global shortcuts go through the desktop's shortcut portal where it has one; elsewhere
// (wlroots desktops, GNOME 43) the desktop's own keyboard settings run the save command,
// and the tray and `corvane --save` still work. The summary line says which.
void useWayland(DesktopBackends& parts, Scheduler& scheduler) {
    auto screen = std::make_unique<PortalScreenCaptureBackend>();
    parts.portalScreen = screen.get();
    parts.screen = std::move(screen);
    parts.screenName = "ScreenCast portal";
    parts.audio = std::make_unique<PulseSystemAudioBackend>();  // pipewire-pulse on these desktops
    parts.audioName = "PulseAudio";
    std::string whyNot;
    std::unique_ptr<HotkeyBackend> hotkeys = PortalHotkeyBackend::open(scheduler, &whyNot);
    if (!hotkeys) {
        hotkeys = std::make_unique<NullHotkeyBackend>(
            whyNot + "; bind keys to `corvane --save N` in the desktop's keyboard settings");
        parts.keysBoundInDesktopSettings = true;
    }
    parts.hotkeysName = hotkeys->name();
    parts.hotkeys = std::move(hotkeys);
}

bool isSet(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

}  // namespace

bool isWaylandSession() {
    const char* type = std::getenv("XDG_SESSION_TYPE");
    return isSet("WAYLAND_DISPLAY") || (type && std::string(type) == "wayland");
}

bool canOpenWaylandDisplay() { return isSet("WAYLAND_DISPLAY"); }

BackendChoice chooseBackendForThisSession(bool x11DisplayOpens) {
    SessionFacts facts;
    facts.x11DisplayOpens = x11DisplayOpens;
    facts.waylandSession = isWaylandSession();
    if (const char* forced = std::getenv(kBackendOverrideVariable)) facts.backendOverride = forced;
    return chooseDesktopBackend(facts);
}

DesktopBackends makeDesktopBackends(const BackendChoice& choice, Scheduler& scheduler) {
    DesktopBackends parts;
    switch (choice.backend) {
        case DesktopBackend::x11: useX11(parts); break;
        case DesktopBackend::wayland: useWayland(parts, scheduler); break;
        case DesktopBackend::none: useNullBackends(parts, choice.reason); break;
    }
    return parts;
}

std::string DesktopBackends::summary() const {
    return "Back ends: screen capture " + screenName + ", system audio " + audioName +
           ", global shortcuts " + hotkeysName;
}

}  // namespace corvane
