#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <deque>
#include <string>
#include <utility>

#include "core/services/Notifier.h"

namespace corvane {

// Desktop notifications through org.freedesktop.Notifications on the session bus.
//
// Lives on the main thread (the thread that created it); showNotification() may be called from
// any thread and only queues the request there. Calls go out asynchronously with a bounded
// reply time, so a hung notification server never blocks the main thread. When there is no
// session bus, or the server does not answer, the notification is written as one "[Corvane] "
// line instead. The body is escaped when the server interprets markup.
class DbusNotifier final : public QObject, public Notifier {
    Q_OBJECT
public:
    static inline const QString kDefaultService = QStringLiteral("org.freedesktop.Notifications");

    // The session bus and the standard service name unless told otherwise (tests).
    explicit DbusNotifier(QObject* parent = nullptr);
    DbusNotifier(QDBusConnection bus, QString service, int replyTimeoutMs,
                 QObject* parent = nullptr);
    ~DbusNotifier() override;

    void showNotification(const std::string& title, const std::string& body) override;

    // How long a Notify call may take before it counts as failed.
    static constexpr int kReplyTimeoutMs = 5000;

    // Notifications the server accepted, and ones written to the log instead (main thread).
    int deliveredCount() const { return delivered_; }
    int fallbackCount() const { return fallbacks_; }

private:
    enum class Markup { Unknown, Querying, Yes, No };

    void enqueueOnMainThread(QString title, QString body);
    void queryCapabilities();
    void flushPending();
    void send(const QString& title, const QString& body);
    void logFallback(const QString& title, const QString& body);

    QDBusConnection bus_;
    const QString service_;
    const int replyTimeoutMs_;
    int delivered_ = 0;
    int fallbacks_ = 0;
    Markup markup_ = Markup::Unknown;                   // main thread
    std::deque<std::pair<QString, QString>> pending_;   // main thread; waiting for capabilities
};

}  // namespace corvane
