#include "ui/keybind/PhysicalKey.h"

#include <QGuiApplication>
#include <QKeyEvent>

#include "core/shortcuts/ShortcutNotation.h"
#include "core/shortcuts/X11KeyMapping.h"
#include "platform/hotkeys/X11KeyboardLayout.h"

namespace corvane {
namespace {

// Qt key -> X keysym, for events without an X key code. Only unshifted keys can be right here.
std::optional<uint32_t> keysymForQtKey(int key, Qt::KeyboardModifiers modifiers) {
    if (key >= Qt::Key_0 && key <= Qt::Key_9 && modifiers.testFlag(Qt::KeypadModifier)) {
        return 0xffb0u + static_cast<uint32_t>(key - Qt::Key_0);  // KP_0 ...
    }
    if (key >= 0x20 && key < 0x7f) return static_cast<uint32_t>(key);  // Latin-1 = keysym
    if (key >= Qt::Key_F1 && key <= Qt::Key_F12) {
        return 0xffbeu + static_cast<uint32_t>(key - Qt::Key_F1);
    }
    switch (key) {
        case Qt::Key_Return: return 0xff0du;
        case Qt::Key_Tab:
        case Qt::Key_Backtab: return 0xff09u;
        case Qt::Key_Escape: return 0xff1bu;
        case Qt::Key_Backspace: return 0xff08u;
        case Qt::Key_Delete: return 0xffffu;
        case Qt::Key_Left: return 0xff51u;
        case Qt::Key_Up: return 0xff52u;
        case Qt::Key_Right: return 0xff53u;
        case Qt::Key_Down: return 0xff54u;
        default: return std::nullopt;
    }
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

PhysicalKeyPress physicalKeyOf(const QKeyEvent& event) {
    const bool fromX = event.nativeScanCode() != 0 &&
                       QGuiApplication::platformName() == QLatin1String("xcb") &&
                       X11KeyboardLayout::shared().isConnected();
    if (fromX) {
        return {X11KeyboardLayout::shared().keyCodeForX11Keycode(event.nativeScanCode()),
                modifierMaskForX11State(event.nativeModifiers())};
    }
    std::optional<uint16_t> keyCode;
    if (const std::optional<uint32_t> keysym = keysymForQtKey(event.key(), event.modifiers())) {
        keyCode = keyCodeForX11Keysym(*keysym);
    }
    return {keyCode, maskForQtModifiers(event.modifiers())};
}

}  // namespace corvane
