#include "platform/dbus/DbusNotifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QMetaObject>
#include <QStringList>
#include <QVariantMap>

#include "core/log/Log.h"

namespace corvane {
namespace {

const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");

QString escapeMarkup(const QString& text) { return text.toHtmlEscaped(); }

}  // namespace

DbusNotifier::DbusNotifier(QObject* parent)
    : DbusNotifier(QDBusConnection::sessionBus(), kDefaultService, kReplyTimeoutMs, parent) {}

DbusNotifier::DbusNotifier(QDBusConnection bus, QString service, int replyTimeoutMs, QObject* parent)
    : QObject(parent), bus_(std::move(bus)), service_(std::move(service)), replyTimeoutMs_(replyTimeoutMs) {}

DbusNotifier::~DbusNotifier() = default;

void DbusNotifier::showNotification(const std::string& title, const std::string& body) {
    // Queued even on the main thread, so a caller never re-enters D-Bus handling.
    QMetaObject::invokeMethod(
        this,
        [this, t = QString::fromStdString(title), b = QString::fromStdString(body)]() mutable {
            enqueueOnMainThread(std::move(t), std::move(b));
        },
        Qt::QueuedConnection);
}

void DbusNotifier::enqueueOnMainThread(QString title, QString body) {
    if (!bus_.isConnected()) {
        logFallback(title, body);
        return;
    }
    if (markup_ == Markup::Yes || markup_ == Markup::No) {
        send(title, body);
        return;
    }
    pending_.emplace_back(std::move(title), std::move(body));
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
            for (auto& [title, body] : failed) logFallback(title, body);
            return;
        }
        markup_ = reply.value().contains(QStringLiteral("body-markup")) ? Markup::Yes : Markup::No;
        flushPending();
    });
}

void DbusNotifier::flushPending() {
    auto ready = std::move(pending_);
    pending_.clear();
    for (auto& [title, body] : ready) send(title, body);
}

void DbusNotifier::send(const QString& title, const QString& body) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(service_, kPath, kInterface, QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(uchar(1)));
    call << QStringLiteral("Corvane") << uint(0) << QString() << title
         << (markup_ == Markup::Yes ? escapeMarkup(body) : body) << QStringList() << hints
         << int(-1);
    auto* watcher = new QDBusPendingCallWatcher(
        bus_.asyncCall(call, replyTimeoutMs_), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, title, body](QDBusPendingCallWatcher* w) {
                w->deleteLater();
                if (w->isError()) {
                    // The server went away or hangs; ask for its capabilities again next time.
                    markup_ = Markup::Unknown;
                    logFallback(title, body);
                } else {
                    ++delivered_;
                }
            });
}

void DbusNotifier::logFallback(const QString& title, const QString& body) {
    ++fallbacks_;
    QString oneLine = body;
    oneLine.replace(QLatin1Char('\n'), QStringLiteral(" | "));
    logLine((title + QStringLiteral(": ") + oneLine).toStdString());
}

}  // namespace corvane
