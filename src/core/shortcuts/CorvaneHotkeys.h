#pragma once

// The registry of global shortcuts: registers the recording profiles' shortcut texts with the
// hotkey back end under small integer ids and reports each press by id.
//
// Use (the engine):
//   auto hotkeys = std::make_unique<CorvaneHotkeys>(std::move(backend));
//   hotkeys->onHotKeyTriggered = [weak](int32_t id) { ... };   // id = profile position
//   hotkeys->registerHotKeys({{1, "Super+Shift+1", "Save last 30 seconds"}, ...});
//   on reload: registerHotKeys(...) again (it replaces the set);   on stop: unregisterAll().
// Each request prints one "[Corvane] " line once the back end answered (at once on X11): its
// registration, or why it failed. A failed request does not hold up the others.
//
// Thread: main thread only (construction, calls, destruction). onHotKeyTriggered runs on the
// main thread during event processing and must return quickly. The callback stays set across
// unregisterAll().

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/sched/ThreadChecker.h"
#include "core/shortcuts/GlobalShortcuts.h"
#include "core/shortcuts/HotkeyBackend.h"
#include "core/shortcuts/ShortcutNotation.h"

namespace corvane {

struct HotkeyRequest {
    int32_t id = 0;
    std::string shortcut;     // notation text as written in the configuration
    std::string description;  // what pressing it does ("Save last 30 seconds")
};

class CorvaneHotkeys final : public GlobalShortcuts {
public:
    explicit CorvaneHotkeys(std::unique_ptr<HotkeyBackend> backend);  // not null
    ~CorvaneHotkeys() override;  // unregisters everything
    CorvaneHotkeys(const CorvaneHotkeys&) = delete;
    CorvaneHotkeys& operator=(const CorvaneHotkeys&) = delete;

    // Replaces every registration with `requests` (ids unique). Texts that do not parse are
    // logged and skipped; a combination that two requests share goes to the first. While
    // suspended the new set waits for the resume.
    void registerHotKeys(const std::vector<HotkeyRequest>& requests);
    // Releases every registration. Harmless when there is none.
    void unregisterAll();

    // Number of live registrations.
    size_t registeredCount() const;

    void suspend() override;
    void resume() override;
    std::optional<HotkeyBindStatus> statusOf(std::string_view shortcut) const override;

    std::function<void(int32_t id)> onHotKeyTriggered;

private:
    ThreadChecker mainThread_;  // the constructing (main) thread
    struct Registration {
        HotkeyRequest request;
        std::optional<ParsedShortcut> combination;  // nothing: the text does not parse
        std::optional<HotkeyBindResult> result;     // nothing: not answered yet
    };

    void bindNow(const std::vector<HotkeyRequest>& requests);
    void finishBind(uint64_t generation, std::vector<HotkeyBindResult> results);
    void handleActivation(const std::string& bindingId);

    std::unique_ptr<HotkeyBackend> backend_;
    std::vector<Registration> registrations_;
    uint64_t generation_ = 0;  // which bind() an answer belongs to
    int suspendCount_ = 0;
    std::optional<std::vector<HotkeyRequest>> deferredWhileSuspended_;
};

}  // namespace corvane
