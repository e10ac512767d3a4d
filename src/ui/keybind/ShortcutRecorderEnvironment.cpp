#include "ui/keybind/ShortcutRecorderEnvironment.h"

#include "ui/keybind/KeybindRecorderController.h"

namespace corvane {
namespace {

ShortcutRecorderEnvironment& current() {
    static ShortcutRecorderEnvironment environment;
    return environment;
}

}  // namespace

void installShortcutRecorderEnvironment(ShortcutRecorderEnvironment environment) {
    KeybindRecorderController::stopActiveRecording();
    current() = environment;
}

const ShortcutRecorderEnvironment& shortcutRecorderEnvironment() { return current(); }

}  // namespace corvane
