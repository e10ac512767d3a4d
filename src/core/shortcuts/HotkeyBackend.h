#pragma once

// The system-wide shortcut service under CorvaneHotkeys, at the level of the shortcut notation:
// a set of bindings (an id, a key combination, what it does in words) is bound at once, and an
// activation comes back by id. Two kinds of back end fit: one that grabs the keys itself (X11:
// XGrabKey on the root window) and one that hands the set to the desktop, which may show it to
// the user and assign other triggers (a shortcuts portal: id, description, preferred trigger,
// activation by id). Implemented by the platform layer, NullHotkeyBackend and fakes in tests.
//
// Thread: owned and called on the main thread; completions and activations arrive there too.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/shortcuts/ShortcutNotation.h"

namespace corvane {

struct HotkeyBinding {
    std::string id;               // unique within one bind() call; stable across runs
    ParsedShortcut combination;   // the preferred trigger
    std::string description;      // what it does, for desktops that list it ("Save last 30 seconds")
    bool operator==(const HotkeyBinding&) const = default;
};

enum class HotkeyBindStatus {
    bound,
    inUseByAnotherProgram,
    duplicateInSet,     // an earlier binding of the same set has this combination
    keyNotOnKeyboard,   // no key of the current layout carries it
    unavailable,        // the back end binds nothing (no display, no desktop service)
};

struct HotkeyBindResult {
    HotkeyBindStatus status = HotkeyBindStatus::bound;
    // The back end's own number for the log line, 0 when bound (X11: the X protocol error,
    // BadAccess = 10 for a combination held elsewhere; its own negative numbers otherwise).
    int code = 0;
    // The trigger the desktop finally assigned, in its words, when it decides (empty: the
    // combination as asked).
    std::string assignedTrigger;
    bool operator==(const HotkeyBindResult&) const = default;
};

class HotkeyBackend {
public:
    using BindCompletion = std::function<void(std::vector<HotkeyBindResult> results)>;
    using ActivationHandler = std::function<void(const std::string& id)>;

    virtual ~HotkeyBackend() = default;

    // Names the back end for the start-up log line ("X11 key grabs", "none (<reason>)").
    virtual std::string name() const = 0;

    // Replaces every binding with `bindings`. `done` gets one result per binding, in the same
    // order, on the main thread: a back end that grabs the keys itself calls it before bind()
    // returns; one that asks the desktop calls it when the desktop answered. A refused binding
    // leaves nothing behind. A later bind() or unbindAll() supersedes a pending completion, which
    // is then never called.
    virtual void bind(const std::vector<HotkeyBinding>& bindings, BindCompletion done) = 0;

    // Releases every binding. Harmless when there is none.
    virtual void unbindAll() = 0;

    // While suspended, presses of the bound combinations reach the focused window as plain keys
    // and no activation is reported (the shortcut recorder listens); resuming restores them.
    // A combination that another program took in the meantime is logged and stays unbound.
    virtual void setSuspended(bool suspended) = 0;

    // Called with a binding's id once per press: never for releases or auto-repeat.
    virtual void setActivationHandler(ActivationHandler handler) = 0;
};

}  // namespace corvane
