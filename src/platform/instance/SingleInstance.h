#pragma once

#include <QDBusConnection>
#include <QString>

#include "platform/instance/ControlService.h"

namespace corvane {

// The outcome of trying to become the one running Corvane of this session.
enum class InstanceRole {
    primary,     // this process owns the bus name and serves the control object
    handedOver,  // another instance runs and was asked to show its window: exit 0
    standalone,  // no usable session bus: run on without single-instance control
    failed,      // another instance owns the name but did not answer: exit with an error
};

struct InstanceClaim {
    InstanceRole role = InstanceRole::standalone;
    QString message;  // the reason for standalone / failed, for the log
};

// Claims org.corvane.Corvane on `bus` for `service` (exported first, so whoever sees the name
// also finds the object). When the name is taken, calls ShowWindow("clips") on its owner and
// waits for the answer (blocking, at most `timeoutMs`). Call on the thread that owns `service`,
// before the event loop runs; the app prints `message` as one "[Corvane] " line when it is set.
// `serviceName` is only ever changed by tests, which share one bus with other test processes.
InstanceClaim claimSingleInstance(ControlService& service, QDBusConnection bus,
                                  const QString& serviceName = QString::fromLatin1(kControlServiceName),
                                  int timeoutMs = 5000);

// The same on the session bus, as the program's start-up uses it.
InstanceClaim claimSingleInstance(ControlService& service);

}  // namespace corvane
