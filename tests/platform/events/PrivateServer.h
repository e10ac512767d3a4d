#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

namespace corvane::test {

// A server of the test's own (a D-Bus daemon, an X server) that prints where to reach it on its
// first line of output. Signals and mode switches made on it cannot reach programs of other tests,
// which listen on the session's bus and display.
class PrivateServer {
public:
    PrivateServer(const QString& program, const QStringList& args) {
        process_.start(program, args);
        if (process_.waitForStarted(5000) && process_.waitForReadyRead(5000)) {
            address_ = QString::fromUtf8(process_.readLine()).trimmed();
        }
    }
    ~PrivateServer() {
        process_.terminate();
        process_.waitForFinished(3000);
    }
    PrivateServer(const PrivateServer&) = delete;
    PrivateServer& operator=(const PrivateServer&) = delete;
    const QString& address() const { return address_; }

private:
    QProcess process_;
    QString address_;
};

}  // namespace corvane::test
