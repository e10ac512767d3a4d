#pragma once

// Records one shortcut from the application's own keyboard: while recording, an event filter
// on the whole application sees every key press before any widget or shortcut does, swallows
// it, and turns the first usable combination into its notation text ("Super+Shift+1").
// Escape cancels, Backspace/Delete alone clear, a left click anywhere or another window taking
// the focus stops without capturing. At most one controller records at a time. Nothing is
// registered system-wide: the text goes to the settings, which apply it later. While recording,
// the global shortcuts are suspended (ShortcutRecorderEnvironment), so a combination that is
// already bound is recorded instead of firing.
//
// Thread: main thread. Outcomes (the capture callback, stopping) run just after the event
// that caused them, from the event loop, never inside the event's dispatch.

#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

#include "core/shortcuts/GlobalShortcuts.h"

namespace corvane {

class KeybindRecorderController : public QObject {
    Q_OBJECT
public:
    using CaptureHandler = std::function<void(const QString& shortcut)>;

    explicit KeybindRecorderController(QObject* parent = nullptr);
    ~KeybindRecorderController() override;

    bool isRecording() const { return isRecording_; }

    // Begins a recording; any other controller's recording ends first. onCapture receives the
    // recorded text, or the empty text when the user cleared the shortcut.
    void startRecording(CaptureHandler onCapture);
    // Ends this controller's recording without capturing; harmless when idle.
    void stopRecording();
    // Ends whichever controller is recording; harmless when none is.
    static void stopActiveRecording();

signals:
    void isRecordingChanged(bool recording);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void scheduleStop();
    void scheduleCapture(const QString& shortcut);

    static QPointer<KeybindRecorderController> activeRecorder_;

    bool isRecording_ = false;
    bool monitorInstalled_ = false;
    bool outcomeScheduled_ = false;  // a key already decided this recording
    quint64 generation_ = 0;         // which recording a scheduled outcome belongs to
    QMetaObject::Connection windowObserver_;
    CaptureHandler onCapture_;
    GlobalShortcuts* suspendedShortcuts_ = nullptr;  // resumed when the recording ends
};

}  // namespace corvane
