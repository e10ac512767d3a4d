#include "platform/events/ScreenSaverWatcher.h"

#include <QDBusConnection>
#include <QStringList>

namespace corvane {
namespace {

const QString kService = QStringLiteral("org.freedesktop.ScreenSaver");
const QString kInterface = QStringLiteral("org.freedesktop.ScreenSaver");
const QStringList kPaths = {QStringLiteral("/org/freedesktop/ScreenSaver"),
                            QStringLiteral("/ScreenSaver")};

}  // namespace

ScreenSaverWatcher::ScreenSaverWatcher(QObject* parent)
    : ScreenSaverWatcher(QDBusConnection::sessionBus(), parent) {}

ScreenSaverWatcher::ScreenSaverWatcher(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {}

ScreenSaverWatcher::~ScreenSaverWatcher() { stop(); }

bool ScreenSaverWatcher::start(std::function<void()> onScreensSleep,
                               std::function<void()> onScreensWake) {
    onSleep_ = std::move(onScreensSleep);
    onWake_ = std::move(onScreensWake);
    if (connected_) return true;
    if (!bus_.isConnected()) return false;
    for (const QString& path : kPaths) {
        connected_ |= bus_.connect(kService, path, kInterface, QStringLiteral("ActiveChanged"), this,
                                  SLOT(onActiveChanged(bool)));
    }
    return connected_;
}

void ScreenSaverWatcher::stop() {
    if (connected_) {
        for (const QString& path : kPaths) {
            bus_.disconnect(kService, path, kInterface, QStringLiteral("ActiveChanged"), this,
                           SLOT(onActiveChanged(bool)));
        }
        connected_ = false;
    }
    onSleep_ = nullptr;
    onWake_ = nullptr;
}

void ScreenSaverWatcher::onActiveChanged(bool active) {
    if (active == active_) return;
    active_ = active;
    const auto& handler = active ? onSleep_ : onWake_;
    if (handler) handler();
}

}  // namespace corvane
