#pragma once

// The registry of global shortcuts: registers the recording profiles' shortcut texts with the
// system under small integer ids and reports each press by id.
//
// Use (the engine):
//   auto hotkeys = std::make_unique<CorvaneHotkeys>(std::make_unique<X11HotkeyBackend>());
//   hotkeys->onHotKeyTriggered = [weak](int32_t id) { ... };   // id = profile position
//   for (i = 1..n) hotkeys->registerHotKey(i, profiles[i-1].hotkey);
//   on reload: hotkeys->unregisterAll(); register again;   on stop: unregisterAll().
// A failed registration prints its line and returns false; the caller just goes on with the
// next profile.
//
// Thread: main thread only (construction, calls, destruction). onHotKeyTriggered runs on the
// main thread during event processing and must return quickly. The callback stays set across
// unregisterAll().

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/shortcuts/HotkeyBackend.h"
#include "core/shortcuts/ShortcutNotation.h"

namespace corvane {

class CorvaneHotkeys {
public:
    // Takes the backend; a null backend refuses every registration (no display).
    explicit CorvaneHotkeys(std::unique_ptr<HotkeyBackend> backend);
    ~CorvaneHotkeys();  // unregisters everything
    CorvaneHotkeys(const CorvaneHotkeys&) = delete;
    CorvaneHotkeys& operator=(const CorvaneHotkeys&) = delete;

    // Registers the shortcut text under id. Prints one "[Corvane] " line either way. Registering
    // a combination already registered (under any id) is refused by the backend.
    bool registerHotKey(int32_t id, const std::string& shortcut);
    // Releases every registration. Harmless when there is none.
    void unregisterAll();

    // Number of live registrations.
    size_t registeredCount() const { return hotKeyRefs_.size(); }

    std::function<void(int32_t id)> onHotKeyTriggered;

    // The notation, also reachable through the registry.
    static std::optional<ParsedShortcut> parseShortcut(std::string_view text) {
        return corvane::parseShortcut(text);
    }
    static std::optional<uint16_t> keycodeForString(std::string_view name) {
        return corvane::keycodeForString(name);
    }
    static std::optional<std::string> keyName(uint16_t keyCode) {
        return corvane::keyName(keyCode);
    }
    static bool isFunctionKey(uint16_t keyCode) { return corvane::isFunctionKey(keyCode); }
    static std::string displayString(std::string_view text) {
        return corvane::displayString(text);
    }

private:
    struct HotKeyRef {
        uint32_t grabId;
        int32_t id;
    };

    void handlePress(uint32_t grabId);

    std::unique_ptr<HotkeyBackend> backend_;
    std::vector<HotKeyRef> hotKeyRefs_;
    uint32_t nextGrabId_ = 1;
};

}  // namespace corvane
