#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <deque>
#include <functional>
#include <map>
#include <mutex>
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
//
// The notification of a saved clip offers "Open" and "Show in Files" when the server supports
// actions; a click on one (ActionInvoked) calls the matching handler with the clip's path on the
// main thread. Every notification carries the program's icon.
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
    void showClipSaved(const std::string& title, const std::string& body,
                       const std::string& clipPath) override;

    // What the actions of a clip's notification do (main thread; either may be unset).
    struct ClipActions {
        std::function<void(const std::string& path)> open;         // in the default player
        std::function<void(const std::string& path)> showInFiles;  // in the file manager
    };
    void setClipActions(ClipActions actions) { clipActions_ = std::move(actions); }
    // The notification's icon: an icon name of the theme or an absolute file path. The default
    // constructor takes programIcon(), the other "corvane".
    void setAppIcon(QString icon) { appIcon_ = std::move(icon); }
    // "corvane" when the icon is installed in the theme, else the picture beside the program.
    static QString programIcon();
    static inline const QString kActionOpen = QStringLiteral("open");
    static inline const QString kActionShowInFiles = QStringLiteral("show-in-files");

    // How long a Notify call may take before it counts as failed.
    static constexpr int kReplyTimeoutMs = 5000;

    // Notifications the server accepted, and ones written to the log instead (main thread).
    int deliveredCount() const { return delivered_; }
    int fallbackCount() const { return fallbacks_; }

private Q_SLOTS:
    void onActionInvoked(uint id, const QString& actionKey);
    void onNotificationClosed(uint id, uint reason);
    // Main thread: the oldest request handed over by showClipSaved (one call per request).
    void takeHandedOver();

private:
    enum class Markup { Unknown, Querying, Yes, No };
    struct Request {
        QString title;
        QString body;
        QString clipPath;  // empty: a plain notification
    };

    void enqueueOnMainThread(Request request);
    void queryCapabilities();
    void flushPending();
    void send(const Request& request);
    void logFallback(const QString& title, const QString& body);

    QDBusConnection bus_;
    const QString service_;
    const int replyTimeoutMs_;
    int delivered_ = 0;
    int fallbacks_ = 0;
    Markup markup_ = Markup::Unknown;  // main thread
    bool actions_ = false;             // main thread; the server shows actions
    std::deque<Request> pending_;      // main thread; waiting for capabilities
    // From any thread to the main thread. Only a payload-free queued call crosses Qt's event
    // queue: the request itself travels under our mutex, whose ordering ThreadSanitizer sees
    // (Qt's own locking it does not).
    std::mutex handOverMutex_;
    std::deque<Request> handedOver_;  // guarded by handOverMutex_
    QString appIcon_ = QStringLiteral("corvane");
    ClipActions clipActions_;
    std::map<uint, QString> clipOfNotification_;  // main thread; shown clip notifications by id
};

}  // namespace corvane
