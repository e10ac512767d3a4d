#include "ui/settings/ShortcutFieldFactory.h"

#include <QLineEdit>
#include <QSignalBlocker>

namespace corvane {

// A plain text field until the recording field is available.
ShortcutField createShortcutField(QWidget* parent, std::function<void(const std::string&)> onRecorded) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QStringLiteral("shortcutField"));
    // Sent only when the user changed the text, not when the field merely loses focus.
    QObject::connect(edit, &QLineEdit::editingFinished, edit, [edit, onRecorded] {
        if (edit->isModified() && onRecorded) onRecorded(edit->text().trimmed().toStdString());
        edit->setModified(false);
    });
    return {edit, [edit](const std::string& hotkey, bool isDuplicate) {
                const QSignalBlocker block(edit);
                const QString text = QString::fromStdString(hotkey);
                if (edit->text() != text && !edit->hasFocus()) edit->setText(text);
                edit->setStyleSheet(isDuplicate ? QStringLiteral("QLineEdit { border: 1px solid orange; }")
                                                : QString());
            }};
}

}  // namespace corvane
