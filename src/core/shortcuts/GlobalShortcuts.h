#pragma once

// What the settings tab needs from the registered global shortcuts: how each one's
// registration went (a row says "in use by another program"), and a pause while the shortcut
// recorder listens, so that pressing a combination that is already bound records it instead of
// saving a clip. Implemented by CorvaneHotkeys.
//
// Thread: main thread.

#include <optional>
#include <string_view>

#include "core/shortcuts/HotkeyBackend.h"

namespace corvane {

class GlobalShortcuts {
public:
    virtual ~GlobalShortcuts() = default;

    // Counted: the bindings are suspended from the first suspend() until the matching number of
    // resume() calls. A resume() without a suspend() is ignored.
    virtual void suspend() = 0;
    virtual void resume() = 0;

    // How the last registration of this combination ended (any spelling of it); nothing when no
    // registration has tried it or its answer is still pending.
    virtual std::optional<HotkeyBindStatus> statusOf(std::string_view shortcut) const = 0;
};

}  // namespace corvane
