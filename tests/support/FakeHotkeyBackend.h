#pragma once

// A scriptable hotkey back end: binds in memory, refuses what "another program" holds or what
// an earlier binding of the same set has, answers at once or when the test says (as a desktop
// portal would), and delivers presses of bound combinations unless suspended.

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
            bool duplicate = false;
            for (const auto& [id, held] : live) duplicate = duplicate || held == binding.combination;
            bool taken = false;
            for (const ParsedShortcut& held : heldElsewhere) taken = taken || held == binding.combination;
            if (taken) {
                results.push_back({HotkeyBindStatus::inUseByAnotherProgram, 10, {}});
            } else if (duplicate) {
                results.push_back({HotkeyBindStatus::duplicateInSet, 10, {}});
            } else {
                live[binding.id] = binding.combination;
                results.push_back({HotkeyBindStatus::bound, 0, assignedTrigger});
            }
        }
        if (answerLater) {
            pendingAnswer = [done, results] { done(results); };
        } else {
            done(results);
        }
    }
    void unbindAll() override {
        ++unbindCalls;
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
    std::vector<ParsedShortcut> heldElsewhere;
    bool answerLater = false;
    std::string assignedTrigger;
    // Seen.
    std::function<void()> pendingAnswer;
    std::map<std::string, ParsedShortcut> live;
    std::vector<HotkeyBinding> lastBindings;
    std::vector<bool> suspendedStates;
    int bindCalls = 0;
    int unbindCalls = 0;
    ActivationHandler onActivated;
};

}  // namespace corvane::test
