#pragma once

// A key combination of the shortcut notation written as a trigger of the desktop portal's
// global shortcuts ("CTRL+ALT+a", "SHIFT+LOGO+1"): the modifiers CTRL, ALT, SHIFT and LOGO in
// that order, then the key's XKB keysym name ("a", "F5", "Return", "minus"). Pure, any thread.

#include <optional>
#include <string>

#include "core/shortcuts/ShortcutNotation.h"

namespace corvane {

// Nothing for a key code the notation gives no key to.
std::optional<std::string> portalTriggerFor(const ParsedShortcut& combination);

}  // namespace corvane
