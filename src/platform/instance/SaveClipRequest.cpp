#include "platform/instance/SaveClipRequest.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>

namespace corvane {

SaveClipOutcome requestClipFromRunningInstance(double seconds, QDBusConnection bus,
                                               const QString& serviceName, int timeoutMs) {
    if (!bus.isConnected()) {
        return {false, "Cannot reach a running Corvane: no session bus (" +
                           bus.lastError().message().toStdString() + ")"};
    }
    // Asked first, so that "not running" is said as such rather than as a bus error.
    QDBusConnectionInterface* daemon = bus.interface();
    if (daemon && !daemon->isServiceRegistered(serviceName).value()) {
        return {false, "Corvane is not running in this session"};
    }
    QDBusMessage call = QDBusMessage::createMethodCall(serviceName, kControlObjectPath, kControlInterface,
                                                       QStringLiteral("SaveClip"));
    call << seconds;
    const QDBusMessage reply = bus.call(call, QDBus::Block, timeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
        const QVariantList answer = reply.arguments();
        return {true, answer.constFirst().toString().toStdString(),
                answer.size() > 1 ? answer.at(1).toString().toStdString() : std::string()};
    }
    if (reply.type() == QDBusMessage::ErrorMessage) {
        return {false, reply.errorMessage().toStdString()};
    }
    return {false, "The running Corvane gave no answer"};
}

SaveClipOutcome requestClipFromRunningInstance(double seconds) {
    return requestClipFromRunningInstance(seconds, QDBusConnection::sessionBus());
}

}  // namespace corvane
