#pragma once

// A scriptable hotkey back end: binds in memory, answers at once or when the test says (as a
// desktop portal would), and delivers presses of bound combinations unless suspended. Refusals
// are the real back ends' business (tests/platform/hotkeys).

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "core/shortcuts/HotkeyBackend.h"
#include "core/shortcuts/ShortcutNotation.h"

namespace corvane::test {

class FakeHotkeyBackend final : public HotkeyBackend {
public:
    std::string name() const override { return "fake key grabs"; }

    void bind(const std::vector<HotkeyBinding>& bindings, BindCompletion done) override {
        ++bindCalls;
        live.clear();
        lastBindings = bindings;
        std::vector<HotkeyBindResult> results;
        for (const HotkeyBinding& binding : bindings) {
            live[binding.id] = binding.combination;
            results.push_back({HotkeyBindStatus::bound, 0, assignedTrigger});
        }
        if (answerLater) {
            pendingAnswer = [done, results] { done(results); };
        } else {
            done(results);
        }
    }
    void unbindAll() override {
        live.clear();
        pendingAnswer = nullptr;
    }
    void setSuspended(bool suspended) override { suspendedStates.push_back(suspended); }
    void setActivationHandler(ActivationHandler handler) override { onActivated = std::move(handler); }

    bool isSuspended() const { return !suspendedStates.empty() && suspendedStates.back(); }
    // The user presses a combination: delivered when bound and not suspended.
    void press(const char* shortcut) {
        const ParsedShortcut combination = *parseShortcut(shortcut);
        if (isSuspended()) return;
        for (const auto& [id, held] : live) {
            if (held == combination && onActivated) return onActivated(id);
        }
    }

    // Script.
    bool answerLater = false;
    std::string assignedTrigger;
    // Seen.
    std::function<void()> pendingAnswer;
    std::map<std::string, ParsedShortcut> live;
    std::vector<HotkeyBinding> lastBindings;
    std::vector<bool> suspendedStates;
    int bindCalls = 0;
    ActivationHandler onActivated;
};

}  // namespace corvane::test
