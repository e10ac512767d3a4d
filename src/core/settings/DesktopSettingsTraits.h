#pragma once

// What the settings tab shows differently from one desktop to the next, so that the tab asks
// about capabilities and never about the platform. The program fills it from the back ends in
// use; the default is a desktop where the tab lists the sources and the program binds the keys.

#include <functional>

namespace corvane {

enum class CaptureTargetKind {
    listedSources,  // the tab lists displays and windows; the choice is display_id / window_id
    systemDialog,   // the desktop's own dialog picks the screen or window and remembers it
};

struct DesktopSettingsTraits {
    CaptureTargetKind captureTarget = CaptureTargetKind::listedSources;
    // systemDialog: forgets the remembered choice and starts capture again, which shows the
    // dialog. Main thread.
    std::function<void()> chooseCaptureAgain;
    // The program binds no global keys here: the desktop's keyboard settings run the save command.
    bool keysBoundInDesktopSettings = false;
};

}  // namespace corvane
