#include "platform/instance/ControlService.h"

#include <QDBusError>
#include <QDBusMessage>

#include "core/engine/SaveMessages.h"

namespace corvane {

namespace {
constexpr char kNotReadyError[] = "org.corvane.Corvane.Error.NotReady";
constexpr char kSaveFailedError[] = "org.corvane.Corvane.Error.SaveFailed";
constexpr char kReloadFailedError[] = "org.corvane.Corvane.Error.ReloadFailed";
}  // namespace

ControlService::ControlService(QObject* parent) : QObject(parent) {}

bool ControlService::exportOn(QDBusConnection bus, QString* error) {
    if (!bus.isConnected()) {
        if (error) *error = bus.lastError().message();
        return false;
    }
    if (!bus.registerObject(kControlObjectPath, this, QDBusConnection::ExportAllSlots)) {
        if (error) *error = QStringLiteral("the object path %1 is already in use").arg(kControlObjectPath);
        return false;
    }
    return true;
}

void ControlService::fail(const QString& name, const QString& message) {
    if (calledFromDBus()) sendErrorReply(name, message);
}

bool ControlService::refuseIfMissing(bool present, const char* method) {
    if (present) return false;
    fail(kNotReadyError, QStringLiteral("Corvane is still starting; %1 is not available yet").arg(method));
    return true;
}

void ControlService::ShowWindow(const QString& tab) {
    const auto parsed = tabFromName(tab.toStdString());
    if (!parsed) {
        fail(QDBusError::errorString(QDBusError::InvalidArgs),
             QStringLiteral("Unknown tab \"%1\"; use \"clips\" or \"settings\"").arg(tab));
        return;
    }
    if (refuseIfMissing(static_cast<bool>(handlers_.showWindow), "ShowWindow")) return;
    handlers_.showWindow(*parsed);
}

QString ControlService::SaveClip(double seconds, QString& note) {
    note.clear();
    if (!isAcceptableClipLength(seconds)) {
        fail(QDBusError::errorString(QDBusError::InvalidArgs), QString::fromLatin1(kClipTooShort));
        return {};
    }
    if (refuseIfMissing(static_cast<bool>(handlers_.saveClip), "SaveClip")) return {};

    // The reply waits for the file; QDBusConnection::send is thread-safe, so the completion may
    // come from the save's own thread.
    setDelayedReply(true);
    QDBusConnection bus = connection();
    QDBusMessage request = message();
    handlers_.saveClip(seconds, [bus, request](SaveClipOutcome outcome) mutable {
        if (outcome.ok) {
            bus.send(request.createReply(QVariantList{QString::fromStdString(outcome.pathOrReason),
                                                      QString::fromStdString(outcome.note)}));
        } else {
            bus.send(request.createErrorReply(kSaveFailedError,
                                              QString::fromStdString(outcome.pathOrReason)));
        }
    });
    return {};
}

void ControlService::ReloadConfig() {
    if (refuseIfMissing(static_cast<bool>(handlers_.reloadConfig), "ReloadConfig")) return;
    const ReloadConfigOutcome outcome = handlers_.reloadConfig();
    if (!outcome.ok) fail(kReloadFailedError, QString::fromStdString(outcome.reason));
}

QVariantMap ControlService::GetStatus() {
    if (refuseIfMissing(static_cast<bool>(handlers_.getStatus), "GetStatus")) return {};
    const ControlStatus status = handlers_.getStatus();
    QVariantMap map;
    map.insert(QStringLiteral("recording"), status.recording);
    map.insert(QStringLiteral("buffered_seconds"), status.bufferedSeconds);
    map.insert(QStringLiteral("memory_bytes"), static_cast<qlonglong>(status.memoryBytes));
    map.insert(QStringLiteral("saving"), status.saving);
    return map;
}

}  // namespace corvane
