#include "platform/instance/SingleInstance.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>

#include "platform/instance/ControlService.h"

namespace corvane {

namespace {

InstanceClaim handOver(QDBusConnection& bus, const QString& serviceName, int timeoutMs) {
    QDBusMessage call = QDBusMessage::createMethodCall(serviceName, kControlObjectPath,
                                                       kControlInterface, QStringLiteral("ShowWindow"));
    call << QStringLiteral("clips");
    const QDBusMessage reply = bus.call(call, QDBus::Block, timeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage) return {InstanceRole::handedOver, {}};
    return {InstanceRole::failed,
            QStringLiteral("Another Corvane is running but did not show its window: %1")
                .arg(reply.errorMessage())};
}

}  // namespace

InstanceClaim claimSingleInstance(ControlService& service, QDBusConnection bus, const QString& serviceName,
                                  int timeoutMs) {
    if (!bus.isConnected()) {
        return {InstanceRole::standalone,
                QStringLiteral("No session bus (%1); running without single-instance control")
                    .arg(bus.lastError().message())};
    }
    QDBusConnectionInterface* daemon = bus.interface();
    if (!daemon) {
        return {InstanceRole::standalone,
                QStringLiteral("The session bus has no bus daemon; running without single-instance control")};
    }
    if (daemon->isServiceRegistered(serviceName).value()) return handOver(bus, serviceName, timeoutMs);

    QString exportError;
    if (!service.exportOn(bus, &exportError)) {
        return {InstanceRole::standalone,
                QStringLiteral("Could not serve the control object (%1); running without it").arg(exportError)};
    }
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> owned =
        daemon->registerService(serviceName, QDBusConnectionInterface::DontQueueService,
                                QDBusConnectionInterface::DontAllowReplacement);
    if (owned.isValid() && owned.value() == QDBusConnectionInterface::ServiceRegistered) {
        return {InstanceRole::primary, {}};
    }
    bus.unregisterObject(kControlObjectPath);
    // Another start won the race between the check and the request: hand over to it.
    if (owned.isValid() && owned.value() == QDBusConnectionInterface::ServiceNotRegistered) {
        return handOver(bus, serviceName, timeoutMs);
    }
    return {InstanceRole::standalone,
            QStringLiteral("Could not own %1 (%2); running without single-instance control")
                .arg(serviceName, owned.error().message())};
}

InstanceClaim claimSingleInstance(ControlService& service) {
    return claimSingleInstance(service, QDBusConnection::sessionBus());
}

}  // namespace corvane
