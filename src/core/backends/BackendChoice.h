#pragma once

// Which desktop back ends (screen capture, system audio, global shortcuts, keyboard layout) the
// program uses, decided once at start-up from what the session offers and an override for
// tests (CORVANE_BACKEND). The program builds the parts of the chosen back end in one place
// (src/app); a second platform adds a value here and a branch there.
//
// Pure; any thread.

#include <optional>
#include <string>

namespace corvane {

enum class DesktopBackend {
    x11,      // XCB capture, PulseAudio, XGrabKey shortcuts
    wayland,  // ScreenCast portal capture, PulseAudio (pipewire-pulse), GlobalShortcuts portal
              // where the desktop has it (else its keyboard settings run `corvane --save N`)
    none,  // nothing to capture, no global shortcuts: the null back ends, with `reason`
};

// What the session offers.
struct SessionFacts {
    std::optional<std::string> backendOverride;  // CORVANE_BACKEND; unset or empty: automatic
    bool x11DisplayOpens = false;                // the X display named by DISPLAY answers
    bool waylandSession = false;  // XDG_SESSION_TYPE=wayland or WAYLAND_DISPLAY set
};

struct BackendChoice {
    DesktopBackend backend = DesktopBackend::none;
    std::string reason;   // for `none`: why, lower case ("cannot open the X display")
    std::string hint;     // for `none`: what the user can do about it; may be empty
    std::string warning;  // an override that was not understood; empty when there was none
    bool operator==(const BackendChoice&) const = default;
};

inline constexpr const char* kBackendOverrideVariable = "CORVANE_BACKEND";

// The override names the back end ("x11", "wayland", "none"); anything else is warned about and
// the choice is made as without it. Automatic: Wayland in a Wayland session (XWayland's display
// would show only X clients), else X11 when its display answers, else none.
BackendChoice chooseDesktopBackend(const SessionFacts& facts);

}  // namespace corvane
