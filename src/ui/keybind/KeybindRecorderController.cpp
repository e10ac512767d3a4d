#include "ui/keybind/KeybindRecorderController.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWindow>

#include <utility>

#include "core/shortcuts/RecorderKeyRules.h"
#include "ui/keybind/PhysicalKey.h"
#include "ui/keybind/ShortcutRecorderEnvironment.h"

namespace corvane {

QPointer<KeybindRecorderController> KeybindRecorderController::activeRecorder_;

KeybindRecorderController::KeybindRecorderController(QObject* parent) : QObject(parent) {}

KeybindRecorderController::~KeybindRecorderController() {
    if (monitorInstalled_ && QCoreApplication::instance()) {
        QCoreApplication::instance()->removeEventFilter(this);
    }
    QObject::disconnect(windowObserver_);
    if (suspendedShortcuts_) suspendedShortcuts_->resume();
}

void KeybindRecorderController::startRecording(CaptureHandler onCapture) {
    if (activeRecorder_ && activeRecorder_ != this) activeRecorder_->stopRecording();
    stopRecording();

    activeRecorder_ = this;
    isRecording_ = true;
    outcomeScheduled_ = false;
    ++generation_;
    onCapture_ = std::move(onCapture);
    suspendedShortcuts_ = shortcutRecorderEnvironment().globalShortcuts;
    if (suspendedShortcuts_) suspendedShortcuts_->suspend();

    // Another window (or none) taking the keyboard focus ends the recording.
    if (auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        windowObserver_ = connect(gui, &QGuiApplication::focusWindowChanged, this,
                                  [this] { scheduleStop(); });
    }
    if (QCoreApplication::instance()) {
        QCoreApplication::instance()->installEventFilter(this);
        monitorInstalled_ = true;
    }
    emit isRecordingChanged(true);
}

void KeybindRecorderController::stopRecording() {
    if (monitorInstalled_) {
        if (QCoreApplication::instance()) QCoreApplication::instance()->removeEventFilter(this);
        monitorInstalled_ = false;
    }
    QObject::disconnect(windowObserver_);
    windowObserver_ = {};
    if (activeRecorder_ == this) activeRecorder_ = nullptr;
    onCapture_ = nullptr;
    const bool wasRecording = isRecording_;
    isRecording_ = false;
    if (GlobalShortcuts* shortcuts = std::exchange(suspendedShortcuts_, nullptr)) {
        shortcuts->resume();
    }
    if (wasRecording) emit isRecordingChanged(false);
}

void KeybindRecorderController::stopActiveRecording() {
    if (activeRecorder_) activeRecorder_->stopRecording();
}

void KeybindRecorderController::scheduleStop() {
    const quint64 generation = generation_;
    QMetaObject::invokeMethod(
        this,
        [this, generation] {
            // Only the recording that asked: a newer one may have started in between.
            if (generation == generation_) stopRecording();
        },
        Qt::QueuedConnection);
}

void KeybindRecorderController::scheduleCapture(const QString& shortcut) {
    const quint64 generation = generation_;
    QMetaObject::invokeMethod(
        this,
        [this, shortcut, generation] {
            // The recording may have been stopped or replaced in between.
            if (!isRecording_ || generation != generation_) return;
            const CaptureHandler handler = onCapture_;
            if (handler) handler(shortcut);
            stopRecording();
        },
        Qt::QueuedConnection);
}

bool KeybindRecorderController::eventFilter(QObject* watched, QEvent* event) {
    if (!isRecording_) return QObject::eventFilter(watched, event);

    switch (event->type()) {
        case QEvent::MouseButtonPress:
            // The click still reaches its target.
            if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) scheduleStop();
            return false;
        case QEvent::ShortcutOverride:
            // Accepting tells Qt a widget wants the key, so no window shortcut fires and the
            // press comes here as a KeyPress.
            event->accept();
            return true;
        case QEvent::KeyPress: {
            if (outcomeScheduled_) return true;
            const PhysicalKeyPress key = physicalKeyOf(
                *static_cast<QKeyEvent*>(event), shortcutRecorderEnvironment().keyboardLayout);
            const RecorderKeyOutcome outcome = classifyRecorderKey(key.keyCode, key.modifiers);
            switch (outcome.action) {
                case RecorderKeyAction::keepRecording:
                    break;
                case RecorderKeyAction::cancel:
                    outcomeScheduled_ = true;
                    scheduleStop();
                    break;
                case RecorderKeyAction::clear:
                    outcomeScheduled_ = true;
                    scheduleCapture(QString());
                    break;
                case RecorderKeyAction::capture:
                    outcomeScheduled_ = true;
                    scheduleCapture(QString::fromStdString(outcome.shortcut));
                    break;
            }
            return true;
        }
        default:
            return false;
    }
}

}  // namespace corvane
