#pragma once

#include <functional>
#include <string>

#include <QWidget>

#include "core/config/AppConfig.h"

class QLabel;
class QLineEdit;
class QToolButton;

namespace corvane {

// One recording profile in the settings tab: duration field and stepper, the shortcut field,
// and the delete button. Shows what setRecord() gives it; only the user's own edits go out
// through the callbacks. Main thread.
class RecordRowView final : public QWidget {
    Q_OBJECT

public:
    struct Callbacks {
        std::function<void(int64_t seconds)> onDurationChanged;  // already clamped to 5...600
        std::function<void(const std::string& hotkey)> onHotkeyChanged;
        std::function<void()> onDelete;
    };

    RecordRowView(Callbacks callbacks, QWidget* parent = nullptr);

    // Fills the widgets without sending anything back.
    void setRecord(const RecordItem& record, bool canDelete, bool isDuplicate);
    const std::string& recordId() const { return recordId_; }

    // For tests: the parts a user touches.
    QLineEdit* durationField() const { return durationField_; }
    QToolButton* stepUpButton() const { return stepUp_; }
    QToolButton* stepDownButton() const { return stepDown_; }
    QToolButton* deleteButton() const { return delete_; }
    QWidget* shortcutField() const { return shortcutField_; }

private:
    void commitDurationText();
    void step(int direction);

    Callbacks callbacks_;
    std::string recordId_;
    int64_t duration_ = 30;
    QLineEdit* durationField_ = nullptr;
    QToolButton* stepUp_ = nullptr;
    QToolButton* stepDown_ = nullptr;
    QLabel* formatted_ = nullptr;
    QWidget* shortcutField_ = nullptr;
    std::function<void(const std::string&, bool)> setShortcut_;
    QToolButton* delete_ = nullptr;
};

}  // namespace corvane
