#pragma once

// The hotkey back end where the session offers none (no display, or forced off for tests):
// binds nothing, and says why once, in its name and in every refusal.
//
// Thread: main thread.

#include <string>

#include "core/shortcuts/HotkeyBackend.h"

namespace corvane {

class NullHotkeyBackend final : public HotkeyBackend {
public:
    // The code every refusal carries in the log line ("Error binding global shortcut (-2) ...").
    static constexpr int kUnavailableCode = -2;

    // reason: why there are no global shortcuts, lower case ("cannot open the X display").
    explicit NullHotkeyBackend(std::string reason) : reason_(std::move(reason)) {}

    std::string name() const override { return "none (" + reason_ + ")"; }
    void bind(const std::vector<HotkeyBinding>& bindings, BindCompletion done) override;
    void unbindAll() override {}
    void setSuspended(bool) override {}
    void setActivationHandler(ActivationHandler) override {}

private:
    std::string reason_;
};

}  // namespace corvane
