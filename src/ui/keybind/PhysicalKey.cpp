#include "ui/keybind/PhysicalKey.h"

#include <QKeyEvent>

#include <string>

#include "core/shortcuts/ShortcutNotation.h"

namespace corvane {
namespace {

// The notation's reading name of a Qt key; empty for keys it cannot name.
std::string notationNameOfQtKey(int key) {
    if ((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9)) {
        return std::string(1, static_cast<char>(key));
    }
    if (key >= Qt::Key_F1 && key <= Qt::Key_F12) return "f" + std::to_string(key - Qt::Key_F1 + 1);
    switch (key) {
        case Qt::Key_Space: return "space";
        case Qt::Key_Return:
        case Qt::Key_Enter: return "return";
        case Qt::Key_Tab:
        case Qt::Key_Backtab: return "tab";
        case Qt::Key_Escape: return "escape";
        case Qt::Key_Left: return "left";
        case Qt::Key_Up: return "up";
        case Qt::Key_Right: return "right";
        case Qt::Key_Down: return "down";
        case Qt::Key_Minus: return "-";
        case Qt::Key_Equal: return "=";
        case Qt::Key_BracketLeft: return "[";
        case Qt::Key_BracketRight: return "]";
        case Qt::Key_Semicolon: return ";";
        case Qt::Key_Apostrophe: return "'";
        case Qt::Key_Comma: return ",";
        case Qt::Key_Period: return ".";
        case Qt::Key_Slash: return "/";
        case Qt::Key_Backslash: return "\\";
        default: return {};
    }
}

std::optional<uint16_t> keyCodeOfQtKey(int key) {
    // The two delete keys have codes but no names (they clear while recording).
    if (key == Qt::Key_Backspace) return kKeyCodeBackspace;
    if (key == Qt::Key_Delete) return kKeyCodeForwardDelete;
    const std::string name = notationNameOfQtKey(key);
    if (name.empty()) return std::nullopt;
    return keycodeForString(name);
}

uint32_t maskForQtModifiers(Qt::KeyboardModifiers modifiers) {
    uint32_t mask = 0;
    if (modifiers.testFlag(Qt::MetaModifier)) mask |= kCmdKeyMask;
    if (modifiers.testFlag(Qt::AltModifier)) mask |= kOptionKeyMask;
    if (modifiers.testFlag(Qt::ControlModifier)) mask |= kControlKeyMask;
    if (modifiers.testFlag(Qt::ShiftModifier)) mask |= kShiftKeyMask;
    return mask;
}

}  // namespace

PhysicalKeyPress physicalKeyOf(const QKeyEvent& event, KeyboardLayout* layout) {
    if (layout) {
        if (std::optional<PhysicalKeyPress> key =
                layout->keyOf(event.nativeScanCode(), event.nativeModifiers())) {
            return *key;
        }
    }
    return {keyCodeOfQtKey(event.key()), maskForQtModifiers(event.modifiers())};
}

}  // namespace corvane
