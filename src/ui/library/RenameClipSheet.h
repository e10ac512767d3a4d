#pragma once

#include <QDialog>

#include <functional>

#include "core/library/ClipItem.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace corvane {

// The small dialog that renames a clip. `onRename` gets the trimmed new base name and says
// whether the rename happened; on false the dialog shows why and stays open. Main thread.
class RenameClipSheet final : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* kErrorText = "A file with this name already exists or is invalid.";

    RenameClipSheet(ClipItem clip, std::function<bool(const std::string&)> onRename, QWidget* parent = nullptr);

    void submitRename();

    QLineEdit* nameField() const { return field_; }
    QLabel* errorLabel() const { return error_; }
    QPushButton* renameButton() const { return renameButton_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    QString trimmedName() const;

    ClipItem clip_;
    std::function<bool(const std::string&)> onRename_;
    QLineEdit* field_;
    QLabel* error_;
    QPushButton* renameButton_;
};

}  // namespace corvane
