#include "platform/dbus/DbusNotifier.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileInfo>
#include <QMetaObject>
#include <QStandardPaths>
#include <QStringList>
#include <QVariantMap>

#include "core/log/Log.h"

namespace corvane {
namespace {

const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");

QString escapeMarkup(const QString& text) { return text.toHtmlEscaped(); }

// Notifications of saved clips remembered for their actions; servers close and forget theirs
// (NotificationClosed), this only bounds the map when one never says so.
constexpr size_t kRememberedClipNotifications = 32;

}  // namespace

DbusNotifier::DbusNotifier(QObject* parent)
    : DbusNotifier(QDBusConnection::sessionBus(), kDefaultService, kReplyTimeoutMs, parent) {
    appIcon_ = programIcon();
}

QString DbusNotifier::programIcon() {
    // Installed: the theme's icon by name. From a build folder: the picture the build puts
    // beside the program.
    const QString installed = QStandardPaths::locate(
        QStandardPaths::GenericDataLocation, QStringLiteral("icons/hicolor/scalable/apps/corvane.svg"));
    if (!installed.isEmpty() || !QCoreApplication::instance()) return QStringLiteral("corvane");
    const QString beside =
        QCoreApplication::applicationDirPath() + QStringLiteral("/assets/menubar_icon.png");
    return QFileInfo::exists(beside) ? beside : QStringLiteral("corvane");
}

DbusNotifier::DbusNotifier(QDBusConnection bus, QString service, int replyTimeoutMs, QObject* parent)
    : QObject(parent), bus_(std::move(bus)), service_(std::move(service)), replyTimeoutMs_(replyTimeoutMs) {
    // Matched on the owner of the service name: only the notification server is heard.
    bus_.connect(service_, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                 SLOT(onActionInvoked(uint, QString)));
    bus_.connect(service_, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                 SLOT(onNotificationClosed(uint, uint)));
}

DbusNotifier::~DbusNotifier() = default;

void DbusNotifier::showNotification(const std::string& title, const std::string& body) {
    // Queued even on the main thread, so a caller never re-enters D-Bus handling.
    showClipSaved(title, body, {});
}

void DbusNotifier::showClipSaved(const std::string& title, const std::string& body,
                                 const std::string& clipPath) {
    {
        std::lock_guard lock(handOverMutex_);
        handedOver_.push_back(Request{QString::fromStdString(title), QString::fromStdString(body),
                                      QString::fromStdString(clipPath)});
    }
    QMetaObject::invokeMethod(this, "takeHandedOver", Qt::QueuedConnection);
}

void DbusNotifier::takeHandedOver() {
    Request request;
    {
        std::lock_guard lock(handOverMutex_);
        if (handedOver_.empty()) return;
        request = std::move(handedOver_.front());
        handedOver_.pop_front();
    }
    enqueueOnMainThread(std::move(request));
}

void DbusNotifier::enqueueOnMainThread(Request request) {
    if (!bus_.isConnected()) {
        logFallback(request.title, request.body);
        return;
    }
    if (markup_ == Markup::Yes || markup_ == Markup::No) {
        send(request);
        return;
    }
    pending_.push_back(std::move(request));
    if (markup_ == Markup::Unknown) queryCapabilities();
}

void DbusNotifier::queryCapabilities() {
    markup_ = Markup::Querying;
    QDBusMessage call = QDBusMessage::createMethodCall(service_, kPath, kInterface,
                                                       QStringLiteral("GetCapabilities"));
    auto* watcher = new QDBusPendingCallWatcher(
        bus_.asyncCall(call, replyTimeoutMs_), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        QDBusPendingReply<QStringList> reply = *w;
        if (reply.isError()) {
            // No server (yet): send nothing now, ask again with the next notification.
            markup_ = Markup::Unknown;
            auto failed = std::move(pending_);
            pending_.clear();
            for (const Request& request : failed) logFallback(request.title, request.body);
            return;
        }
        markup_ = reply.value().contains(QStringLiteral("body-markup")) ? Markup::Yes : Markup::No;
        actions_ = reply.value().contains(QStringLiteral("actions"));
        flushPending();
    });
}

void DbusNotifier::flushPending() {
    auto ready = std::move(pending_);
    pending_.clear();
    for (const Request& request : ready) send(request);
}

void DbusNotifier::send(const Request& request) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(service_, kPath, kInterface, QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(uchar(1)));
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("corvane"));
    QStringList actions;
    const bool withActions = actions_ && !request.clipPath.isEmpty();
    if (withActions) {
        // "default" is a click on the notification itself: it opens the clip too.
        actions << QStringLiteral("default") << QStringLiteral("Open") << kActionOpen
                << QStringLiteral("Open") << kActionShowInFiles << QStringLiteral("Show in Files");
    }
    call << QStringLiteral("Corvane") << uint(0) << appIcon_ << request.title
         << (markup_ == Markup::Yes ? escapeMarkup(request.body) : request.body) << actions << hints
         << int(-1);
    auto* watcher = new QDBusPendingCallWatcher(
        bus_.asyncCall(call, replyTimeoutMs_), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, request, withActions](QDBusPendingCallWatcher* w) {
                w->deleteLater();
                QDBusPendingReply<uint> reply = *w;
                if (reply.isError()) {
                    // The server went away or hangs; ask for its capabilities again next time.
                    markup_ = Markup::Unknown;
                    logFallback(request.title, request.body);
                    return;
                }
                ++delivered_;
                if (!withActions) return;
                if (clipOfNotification_.size() >= kRememberedClipNotifications) {
                    clipOfNotification_.erase(clipOfNotification_.begin());  // the oldest id
                }
                clipOfNotification_[reply.value()] = request.clipPath;
            });
}

void DbusNotifier::onActionInvoked(uint id, const QString& actionKey) {
    const auto found = clipOfNotification_.find(id);
    if (found == clipOfNotification_.end()) return;  // not ours, or forgotten
    const std::string path = found->second.toStdString();
    if (actionKey == kActionShowInFiles) {
        if (clipActions_.showInFiles) clipActions_.showInFiles(path);
    } else if (actionKey == kActionOpen || actionKey == QLatin1String("default")) {
        if (clipActions_.open) clipActions_.open(path);
    }
}

void DbusNotifier::onNotificationClosed(uint id, uint) { clipOfNotification_.erase(id); }

void DbusNotifier::logFallback(const QString& title, const QString& body) {
    ++fallbacks_;
    QString oneLine = body;
    oneLine.replace(QLatin1Char('\n'), QStringLiteral(" | "));
    logLine((title + QStringLiteral(": ") + oneLine).toStdString());
}

}  // namespace corvane
