#pragma once

// The shortcut field of a recording profile row: shows the profile's shortcut as people read it
// ("Super+Shift+1"), records a new one when clicked, offers clearing and copying.
//
// Use (a settings row):
//   auto* field = new KeybindRecorderView(row);
//   field->setHotkey(profile.hotkey);          // filling never emits
//   field->setDuplicate(model.isDuplicate(i));
//   connect(field, &KeybindRecorderView::hotkeyEdited, model, [..](const QString& text) {..});
// A shortcut marked as a duplicate, or one whose global registration was refused, gets an
// orange border and a tooltip that says why.
// hotkeyEdited is emitted only for the user's own changes: a recorded shortcut, or the empty
// text when cleared (Backspace/Delete while recording, the clear button, the context menu).
//
// Thread: main thread. Fixed size 160 x 24. Recording stops when the field is hidden.

#include <QString>
#include <QWidget>

class QMenu;

namespace corvane {

class KeybindRecorderController;

class KeybindRecorderView : public QWidget {
    Q_OBJECT
public:
    explicit KeybindRecorderView(QWidget* parent = nullptr);
    ~KeybindRecorderView() override;

    QString hotkey() const { return hotkey_; }
    void setHotkey(const QString& hotkey);

    bool isDuplicate() const { return isDuplicate_; }
    void setDuplicate(bool duplicate);

    bool isRecording() const;
    void startRecording();
    void stopRecording();

    // What the field shows when not recording ("Record shortcut" when empty).
    QString displayText() const;
    // Its tooltip: the recording help, or why the shortcut does not work (another program holds
    // it, another profile has it too).
    QString helpText() const;

    // The context menu for the current shortcut; nullptr when the shortcut is empty.
    // The caller owns the menu.
    QMenu* createContextMenu(QWidget* parent = nullptr);

signals:
    void hotkeyEdited(const QString& hotkey);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool event(QEvent* event) override;

private:
    bool hasShortcut() const;
    QRect clearButtonRect() const;
    bool clearButtonShown() const;
    void editHotkey(const QString& hotkey);
    void refreshHelp();

    KeybindRecorderController* recorder_;
    QString hotkey_;
    bool isDuplicate_ = false;
    bool isHovering_ = false;
    bool pressStartedWhileRecording_ = false;
    bool pressOnClearButton_ = false;
};

}  // namespace corvane
