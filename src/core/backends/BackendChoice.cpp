#include "core/backends/BackendChoice.h"

namespace corvane {

BackendChoice chooseDesktopBackend(const SessionFacts& facts) {
    BackendChoice choice;
    const std::string forced = facts.backendOverride.value_or("");
    if (forced == "x11") {
        choice.backend = DesktopBackend::x11;
        return choice;
    }
    if (forced == "wayland") {
        choice.backend = DesktopBackend::wayland;
        return choice;
    }
    if (forced == "none") {
        choice.reason = std::string(kBackendOverrideVariable) + "=none";
        return choice;
    }
    if (!forced.empty()) {
        choice.warning = "Unknown " + std::string(kBackendOverrideVariable) + " value '" + forced +
                         "' (x11, wayland or none); choosing by the session.";
    }
    if (facts.waylandSession) {
        choice.backend = DesktopBackend::wayland;
    } else if (facts.x11DisplayOpens) {
        choice.backend = DesktopBackend::x11;
    } else {
        choice.reason = "cannot open the X display";
        choice.hint = "Set DISPLAY or start Corvane inside a desktop session.";
    }
    return choice;
}

}  // namespace corvane
