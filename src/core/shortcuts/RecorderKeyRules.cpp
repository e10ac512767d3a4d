#include "core/shortcuts/RecorderKeyRules.h"

#include "core/shortcuts/ShortcutNotation.h"

namespace corvane {

RecorderKeyOutcome classifyRecorderKey(std::optional<uint16_t> keyCode, uint32_t modifierMask) {
    constexpr uint32_t kAnyModifier = kCmdKeyMask | kShiftKeyMask | kOptionKeyMask | kControlKeyMask;
    constexpr uint32_t kQualifying = kCmdKeyMask | kOptionKeyMask | kControlKeyMask;

    if (!keyCode) return {};
    const uint16_t code = *keyCode;
    if ((code == kKeyCodeBackspace || code == kKeyCodeForwardDelete) &&
        (modifierMask & kAnyModifier) == 0) {
        return {RecorderKeyAction::clear, {}};
    }
    if (code == kKeyCodeEscape) return {RecorderKeyAction::cancel, {}};
    if ((modifierMask & kQualifying) == 0 && !isFunctionKey(code)) return {};

    std::optional<std::string> text = shortcutText(code, modifierMask);
    if (!text) return {};
    return {RecorderKeyAction::capture, std::move(*text)};
}

}  // namespace corvane
