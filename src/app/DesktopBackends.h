#pragma once

// The parts of the chosen desktop back end, built in this one place: screen capture, system
// audio, global shortcuts and the keyboard layout of the shortcut recorder. X11 gets XCB
// capture, PulseAudio and XGrabKey; Wayland the ScreenCast portal, PulseAudio and the
// GlobalShortcuts portal where the desktop has it (else none: the desktop binds keys to the save
// command); none gets the null back ends, which say why. A part that
// cannot connect (X11 forced without a display) is replaced by its null back end with the reason.
//
// Main thread: built after the Qt application exists (the hotkey back end watches its
// connection with a socket notifier).

#include <memory>
#include <string>

#include "core/backends/BackendChoice.h"
#include "core/capture/CaptureBackend.h"
#include "core/sched/Scheduler.h"
#include "core/shortcuts/HotkeyBackend.h"
#include "core/shortcuts/KeyboardLayout.h"

namespace corvane {

class PortalScreenCaptureBackend;

// XDG_SESSION_TYPE=wayland or WAYLAND_DISPLAY set.
bool isWaylandSession();
// Qt can bring up its Wayland platform: WAYLAND_DISPLAY names a compositor.
bool canOpenWaylandDisplay();

// The choice for this process: the session as found plus the CORVANE_BACKEND override.
BackendChoice chooseBackendForThisSession(bool x11DisplayOpens);

struct DesktopBackends {
    std::unique_ptr<ScreenCaptureBackend> screen;  // never null
    std::unique_ptr<SystemAudioBackend> audio;     // null: video only
    std::unique_ptr<HotkeyBackend> hotkeys;        // never null until handed to the engine
    std::unique_ptr<KeyboardLayout> keyboardLayout;  // null: the recorder goes by Qt's keys
    // The screen back end when it is the portal's (it is told to choose again and to give up a
    // pending dialog at quit); null otherwise.
    PortalScreenCaptureBackend* portalScreen = nullptr;
    // No global shortcuts from the program: keys are bound to `corvane --save N` in the desktop.
    bool keysBoundInDesktopSettings = false;
    std::string screenName;
    std::string audioName;
    std::string hotkeysName;

    // The start-up log line: "Back ends: screen capture X11, system audio PulseAudio, global
    // shortcuts X11 key grabs".
    std::string summary() const;
};

// `scheduler`: the main thread's, outliving the parts (the shortcut portal's re-binds run on it).
DesktopBackends makeDesktopBackends(const BackendChoice& choice, Scheduler& scheduler);

}  // namespace corvane
