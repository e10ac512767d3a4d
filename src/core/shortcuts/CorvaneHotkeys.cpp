#include "core/shortcuts/CorvaneHotkeys.h"

#include "core/log/Log.h"
#include "core/shortcuts/X11KeyMapping.h"

namespace corvane {

CorvaneHotkeys::CorvaneHotkeys(std::unique_ptr<HotkeyBackend> backend)
    : backend_(std::move(backend)) {
    if (backend_) {
        backend_->setPressHandler([this](uint32_t grabId) { handlePress(grabId); });
    }
}

CorvaneHotkeys::~CorvaneHotkeys() {
    unregisterAll();
    if (backend_) backend_->setPressHandler(nullptr);
}

bool CorvaneHotkeys::registerHotKey(int32_t id, const std::string& shortcut) {
    const std::optional<X11KeyCombination> combination = x11CombinationForShortcut(shortcut);
    if (!combination) {
        logLine("Failed to parse shortcut: '" + shortcut + "'");
        return false;
    }
    const uint32_t grabId = nextGrabId_++;
    const HotkeyGrabStatus status =
        backend_ ? backend_->grab(grabId, combination->keysym, combination->modifiers)
                 : kHotkeyStatusNoDisplay;
    if (status != kHotkeyGrabGranted) {
        logLine("Error RegisterEventHotKey (" + std::to_string(status) + ") for '" + shortcut +
                "'");
        return false;
    }
    hotKeyRefs_.push_back({grabId, id});
    logLine("Hotkey registered: [" + shortcut + "] -> Action ID " + std::to_string(id));
    return true;
}

void CorvaneHotkeys::unregisterAll() {
    std::vector<HotKeyRef> refs;
    refs.swap(hotKeyRefs_);
    if (!backend_) return;
    for (const HotKeyRef& ref : refs) backend_->ungrab(ref.grabId);
}

void CorvaneHotkeys::handlePress(uint32_t grabId) {
    for (const HotKeyRef& ref : hotKeyRefs_) {
        if (ref.grabId != grabId) continue;
        // A copy: the callback may re-register, which would change the list and the callback.
        const std::function<void(int32_t)> callback = onHotKeyTriggered;
        if (callback) callback(ref.id);
        return;
    }
}

}  // namespace corvane
