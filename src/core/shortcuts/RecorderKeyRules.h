#pragma once

// What the shortcut recorder does with one key press while it records. Pure; the widget layer
// feeds it the physical key (already mapped to the notation's key code) and the held modifiers.

#include <cstdint>
#include <optional>
#include <string>

namespace corvane {

enum class RecorderKeyAction {
    keepRecording,  // swallow the press, keep waiting for a usable combination
    cancel,         // swallow, stop, leave the shortcut as it was (Escape)
    clear,          // swallow, stop, store the empty shortcut (Backspace/Delete alone)
    capture,        // swallow, stop, store `shortcut`
};

struct RecorderKeyOutcome {
    RecorderKeyAction action = RecorderKeyAction::keepRecording;
    std::string shortcut;  // the written form, for `capture` only
    bool operator==(const RecorderKeyOutcome&) const = default;
};

// keyCode: the notation key code of the physical key, or nothing for a key the notation has no
// code for (Home, a modifier key ...). modifierMask: notation modifier bits held at the press.
// A usable combination needs Super, Ctrl or Alt, except F1 to F12 which may stand alone or with
// Shift; keys without a written name never capture.
RecorderKeyOutcome classifyRecorderKey(std::optional<uint16_t> keyCode, uint32_t modifierMask);

}  // namespace corvane
