#include "ui/settings/ShortcutFieldFactory.h"

#include "ui/keybind/KeybindRecorderView.h"

namespace corvane {

ShortcutField createShortcutField(QWidget* parent, std::function<void(const std::string&)> onRecorded) {
    auto* field = new KeybindRecorderView(parent);
    field->setObjectName(QStringLiteral("shortcutField"));
    // hotkeyEdited comes only from the user's own recording or clearing.
    QObject::connect(field, &KeybindRecorderView::hotkeyEdited, field, [onRecorded](const QString& hotkey) {
        if (onRecorded) onRecorded(hotkey.toStdString());
    });
    return {field, [field](const std::string& hotkey, bool isDuplicate) {
                field->setHotkey(QString::fromStdString(hotkey));
                field->setDuplicate(isDuplicate);
            }};
}

}  // namespace corvane
