#pragma once

#include <string>
#include <vector>

#include <QWidget>

#include "core/settings/LoginAutostart.h"
#include "core/settings/SettingsViewModel.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;
class QVBoxLayout;

namespace corvane {

class RecordRowView;

// The settings tab. Every control writes straight into the model on a user action; the model
// saves and applies 0.35 s later, so there is no Save button. Filling the controls from the
// model never writes anything back: signals are blocked while filling, and only signals that
// come from the user (activated, clicked, textEdited) are connected.
//
// Main thread. The model must outlive the view.
class SettingsView final : public QWidget {
    Q_OBJECT

public:
    explicit SettingsView(SettingsViewModel& model, QWidget* parent = nullptr);
    ~SettingsView() override;

    // Refills every control from the model (also done on each model change).
    void refresh();

    // For tests: the controls a user touches.
    QComboBox* captureTargetPicker() const { return targetPicker_; }
    QToolButton* refreshButton() const { return refreshButton_; }
    QLabel* systemDialogTarget() const { return dialogTarget_; }
    QPushButton* chooseAgainButton() const { return chooseAgain_; }
    QLabel* shortcutsHint() const { return shortcutsHint_; }
    QComboBox* frameRatePicker() const { return fpsPicker_; }
    QComboBox* resolutionPicker() const { return resolutionPicker_; }
    QLabel* estimatedSizeLabel() const { return estimate_; }
    QLineEdit* clipsFolderField() const { return folderField_; }
    QPushButton* browseButton() const { return browseButton_; }
    QCheckBox* recordAudioToggle() const { return recordAudio_; }
    QCheckBox* playSoundToggle() const { return playSound_; }
    QCheckBox* startAtLoginToggle() const { return startAtLogin_; }
    QPushButton* addShortcutButton() const { return addButton_; }
    QLabel* duplicateWarning() const { return duplicateWarning_; }
    QLabel* errorLine() const { return errorLine_; }
    QLabel* folderProblem() const { return folderProblem_; }
    const std::vector<RecordRowView*>& recordRows() const { return rows_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void buildUi();
    void refreshLists();
    void fillTargetPicker();
    void fillFpsPicker();
    void fillResolutionPicker();
    void fillRecordRows();
    void openClipsFolder();
    void showStartAtLogin();
    void setStartAtLogin(bool on);

    SettingsViewModel& model_;
    SettingsViewModel::ObserverId observer_ = 0;

    QLabel* errorLine_ = nullptr;
    QComboBox* targetPicker_ = nullptr;
    QToolButton* refreshButton_ = nullptr;
    QLabel* dialogTarget_ = nullptr;  // instead of the picker where the system dialog chooses
    QPushButton* chooseAgain_ = nullptr;
    QComboBox* fpsPicker_ = nullptr;
    QComboBox* resolutionPicker_ = nullptr;
    QLabel* estimate_ = nullptr;
    QLineEdit* folderField_ = nullptr;
    QLabel* folderProblem_ = nullptr;
    QPushButton* browseButton_ = nullptr;
    QToolButton* openFolderButton_ = nullptr;
    QCheckBox* recordAudio_ = nullptr;
    QCheckBox* playSound_ = nullptr;
    // The autostart entry under $XDG_CONFIG_HOME as it was when the view was made.
    LoginAutostart autostart_;
    QCheckBox* startAtLogin_ = nullptr;
    QVBoxLayout* rowsLayout_ = nullptr;
    std::vector<RecordRowView*> rows_;
    QPushButton* addButton_ = nullptr;
    QLabel* duplicateWarning_ = nullptr;
    QLabel* shortcutsHint_ = nullptr;
};

}  // namespace corvane
