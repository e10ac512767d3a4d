#include "core/shortcuts/NullHotkeyBackend.h"

namespace corvane {

void NullHotkeyBackend::bind(const std::vector<HotkeyBinding>& bindings, BindCompletion done) {
    if (!done) return;
    done(std::vector<HotkeyBindResult>(
        bindings.size(), HotkeyBindResult{HotkeyBindStatus::unavailable, kUnavailableCode, {}}));
}

}  // namespace corvane
