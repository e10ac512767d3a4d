#include "platform/files/FileManagerReveal.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileInfo>
#include <QUrl>

namespace corvane {

QString FileManagerReveal::fileUri(const std::string& path) {
    const QString absolute = QFileInfo(QString::fromStdString(path)).absoluteFilePath();
    return QString::fromUtf8(QUrl::fromLocalFile(absolute).toEncoded());
}

void FileManagerReveal::showItem(const std::string& path, std::function<void(bool)> done) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        if (done) done(false);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{fileUri(path)} << QString();
    // A file manager that must be started by the bus can take a few seconds; the fallback
    // (opening the folder) is better than waiting longer than that.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [done = std::move(done)](QDBusPendingCallWatcher* w) {
                const bool ok = !w->isError();
                w->deleteLater();
                if (done) done(ok);
            });
}

}  // namespace corvane
