#include "platform/events/LogindSleepWatcher.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace corvane {
namespace {

const QString kService = QStringLiteral("org.freedesktop.login1");
const QString kPath = QStringLiteral("/org/freedesktop/login1");
const QString kInterface = QStringLiteral("org.freedesktop.login1.Manager");
constexpr int kInhibitTimeoutMs = 5000;

}  // namespace

LogindSleepWatcher::LogindSleepWatcher(QObject* parent)
    : LogindSleepWatcher(QDBusConnection::systemBus(), parent) {}

LogindSleepWatcher::LogindSleepWatcher(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {}

LogindSleepWatcher::~LogindSleepWatcher() { stop(); }

bool LogindSleepWatcher::start(std::function<void()> onSleep, std::function<void()> onWake) {
    onSleep_ = std::move(onSleep);
    onWake_ = std::move(onWake);
    if (connected_) return true;
    if (!bus_.isConnected()) return false;
    // With the service name given, QtDBus only delivers the signal from the name's owner, so
    // another program cannot fake a suspend.
    connected_ = bus_.connect(kService, kPath, kInterface, QStringLiteral("PrepareForSleep"), this,
                             SLOT(onPrepareForSleep(bool)));
    if (connected_) takeDelay();
    return connected_;
}

void LogindSleepWatcher::stop() {
    if (connected_) {
        bus_.disconnect(kService, kPath, kInterface,
                                                QStringLiteral("PrepareForSleep"), this,
                                                SLOT(onPrepareForSleep(bool)));
        connected_ = false;
    }
    releaseDelay();
    onSleep_ = nullptr;
    onWake_ = nullptr;
}

void LogindSleepWatcher::releaseDelay() { delayLock_ = QDBusUnixFileDescriptor(); }

void LogindSleepWatcher::onPrepareForSleep(bool sleeping) {
    if (sleeping == asleep_) return;
    asleep_ = sleeping;
    if (sleeping) {
        if (onSleep_) onSleep_();
    } else {
        takeDelay();  // for the next suspend
        if (onWake_) onWake_();
    }
}

void LogindSleepWatcher::takeDelay() {
    if (delayLock_.isValid() || takingDelay_ || !connected_) return;
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep") << QStringLiteral("Corvane")
         << QStringLiteral("Finishing the clip being saved") << QStringLiteral("delay");
    takingDelay_ = true;
    auto* watcher = new QDBusPendingCallWatcher(
        bus_.asyncCall(call, kInhibitTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        takingDelay_ = false;
        QDBusPendingReply<QDBusUnixFileDescriptor> reply = *w;
        // No logind (or it refuses): suspend is simply not delayed.
        if (reply.isError() || !connected_ || asleep_) return;
        delayLock_ = reply.value();
    });
}

}  // namespace corvane
