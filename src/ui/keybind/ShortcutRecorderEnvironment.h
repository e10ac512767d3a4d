#pragma once

// What the shortcut fields use from outside the UI: the platform's keyboard layout (to name the
// physical key) and the registered global shortcuts (paused while a field records; their
// registration outcome shown on the field). The program installs both once the engine exists
// and removes them before the engine goes; without them a field goes by Qt's keys and shows no
// registration outcome.
//
// Thread: main thread. The pointers are not owned and must stay valid until replaced.

#include "core/shortcuts/GlobalShortcuts.h"
#include "core/shortcuts/KeyboardLayout.h"

namespace corvane {

struct ShortcutRecorderEnvironment {
    KeyboardLayout* keyboardLayout = nullptr;
    GlobalShortcuts* globalShortcuts = nullptr;
};

// Replaces the environment. A recording in progress ends first, so its pause of the global
// shortcuts is lifted on the shortcuts it was made on.
void installShortcutRecorderEnvironment(ShortcutRecorderEnvironment environment);
const ShortcutRecorderEnvironment& shortcutRecorderEnvironment();

}  // namespace corvane
