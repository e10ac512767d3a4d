#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include "platform/instance/ControlHandlers.h"

namespace corvane {

inline constexpr char kControlServiceName[] = "org.corvane.Corvane";
inline constexpr char kControlObjectPath[] = "/org/corvane/Corvane";
inline constexpr char kControlInterface[] = "org.corvane.Corvane";

// The object served at /org/corvane/Corvane: lets a second start, scripts and `gdbus` drive the
// running program. Lives on the main thread; QtDBus delivers the calls there. The method names
// are the bus interface and keep its capitalisation.
class ControlService : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.corvane.Corvane")

public:
    explicit ControlService(QObject* parent = nullptr);

    // May be called before or after the object is exported; calls that arrive while a handler is
    // unset get an error reply.
    void setHandlers(ControlHandlers handlers) { handlers_ = std::move(handlers); }

    // Exports this object on `bus`. Returns false (with the reason in *error) when the path is
    // taken or the bus is not connected.
    bool exportOn(QDBusConnection bus, QString* error);

public slots:
    // tab: "clips" or "settings".
    void ShowWindow(const QString& tab);
    // Replies with the clip's path once the file is complete, and a note that is empty unless
    // the buffer held less than asked ("Saved 53 s of the 601 s asked"). A length under one
    // second is refused; a failed save is an error reply whose message is the real reason.
    QString SaveClip(double seconds, QString& note);
    // A file that cannot be read (or is empty) applies nothing and is an error reply naming why.
    void ReloadConfig();
    // Keys: "recording" (b), "buffered_seconds" (d), "memory_bytes" (x), "saving" (b).
    QVariantMap GetStatus();

private:
    // Error replies are only possible inside a bus call; direct calls (tests, the app) just return.
    void fail(const QString& name, const QString& message);
    bool refuseIfMissing(bool present, const char* method);

    ControlHandlers handlers_;
};

}  // namespace corvane
