// Notifications over the real session bus: against the session's notification server, against
// a scripted server (markup escaping, capabilities), and with no server or a hung one.
#include "platform/dbus/DbusNotifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "core/log/Log.h"
#include "platform/events/QtWait.h"

namespace corvane::test {
namespace {

// A notification server on its own connection, under a name of its own.
class ScriptedServer : public QDBusVirtualObject {
public:
    QStringList capabilities;
    bool answer = true;  // false: calls are taken and never answered (a hung server)
    std::vector<std::pair<QString, QString>> received;  // summary, body
    std::vector<QDBusMessage> unanswered;

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        QVariant result;
        if (message.member() == QLatin1String("GetCapabilities")) {
            result = capabilities;
        } else if (message.member() == QLatin1String("Notify")) {
            const QList<QVariant> args = message.arguments();
            received.emplace_back(args.value(3).toString(), args.value(4).toString());
            result = uint(received.size());
        } else {
            return false;
        }
        if (!answer) {
            unanswered.push_back(message);
            return true;
        }
        connection.send(message.createReply(result));
        return true;
    }
};

class DbusNotifierTest : public ::testing::Test {
protected:
    DbusNotifierTest()
        : serverBus(QDBusConnection::connectToBus(QDBusConnection::SessionBus,
                                                  QStringLiteral("scripted-notifications"))),
          serviceName(QStringLiteral("org.corvane.test.Notifications.p%1")
                          .arg(QCoreApplication::applicationPid())) {
        setLogSinkForTesting([this](const std::string& line) {
            std::lock_guard lock(mutex);
            lines.push_back(line);
        });
    }
    ~DbusNotifierTest() override {
        setLogSinkForTesting(nullptr);
        serverBus.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
        serverBus.unregisterService(serviceName);
        QDBusConnection::disconnectFromBus(QStringLiteral("scripted-notifications"));
    }

    void serve() {
        ASSERT_TRUE(serverBus.isConnected()) << "tests need the session bus";
        ASSERT_TRUE(serverBus.registerVirtualObject(QStringLiteral("/org/freedesktop/Notifications"),
                                                    &server));
        ASSERT_TRUE(serverBus.registerService(serviceName));
    }
    std::vector<std::string> loggedLines() {
        std::lock_guard lock(mutex);
        return lines;
    }

    ScriptedServer server;
    QDBusConnection serverBus;
    QString serviceName;
    std::mutex mutex;
    std::vector<std::string> lines;  // guarded by mutex
};

TEST_F(DbusNotifierTest, SessionNotificationServerAcceptsTheSaveNotification) {
    DbusNotifier notifier;
    // A title of its own: other tests watch the session bus for the real save notifications.
    notifier.showNotification("Corvane notification test", "Clip_x_12s.mp4\nSaved in ~/Videos/Corvane");
    ASSERT_TRUE(waitUntil([&] { return notifier.deliveredCount() + notifier.fallbackCount() > 0; }));
    EXPECT_EQ(notifier.deliveredCount(), 1) << "the session's notification server did not accept it";
    EXPECT_TRUE(loggedLines().empty());
}

TEST_F(DbusNotifierTest, BodyIsEscapedOnlyForServersThatTakeMarkup) {
    server.capabilities = {QStringLiteral("body"), QStringLiteral("body-markup")};
    serve();
    {
        DbusNotifier notifier(QDBusConnection::sessionBus(), serviceName, 2000);
        notifier.showNotification("Corvane - Clip not saved", "Could not write <clips> & \"more\"");
        ASSERT_TRUE(waitUntil([&] { return server.received.size() == 1; }));
        EXPECT_EQ(server.received[0].first, QStringLiteral("Corvane - Clip not saved"));
        EXPECT_EQ(server.received[0].second,
                  QStringLiteral("Could not write &lt;clips&gt; &amp; &quot;more&quot;"));
    }
    server.capabilities = {QStringLiteral("body")};
    DbusNotifier plain(QDBusConnection::sessionBus(), serviceName, 2000);
    plain.showNotification("T", "a <b> & c");
    ASSERT_TRUE(waitUntil([&] { return server.received.size() == 2; }));
    EXPECT_EQ(server.received[1].second, QStringLiteral("a <b> & c"));
}

TEST_F(DbusNotifierTest, NotificationsSentBeforeCapabilitiesArriveKeepTheirOrder) {
    server.capabilities = {QStringLiteral("body")};
    serve();
    DbusNotifier notifier(QDBusConnection::sessionBus(), serviceName, 2000);
    notifier.showNotification("first", "1");
    notifier.showNotification("second", "2");
    ASSERT_TRUE(waitUntil([&] { return server.received.size() == 2; }));
    EXPECT_EQ(server.received[0].first, QStringLiteral("first"));
    EXPECT_EQ(server.received[1].first, QStringLiteral("second"));
}

TEST_F(DbusNotifierTest, WithoutServerTheNotificationBecomesOneLogLine) {
    DbusNotifier notifier(QDBusConnection::sessionBus(),
                          QStringLiteral("org.corvane.test.NobodyHere"), 2000);
    notifier.showNotification("Corvane - Clip saved (5s)", "Clip_5s.mp4\nSaved in ~/Videos/Corvane");
    ASSERT_TRUE(waitUntil([&] { return notifier.fallbackCount() == 1; }));
    const auto lines = loggedLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0],
              "[Corvane] Corvane - Clip saved (5s): Clip_5s.mp4 | Saved in ~/Videos/Corvane");
}

TEST_F(DbusNotifierTest, HungServerNeverBlocksTheCaller) {
    server.answer = false;
    serve();
    DbusNotifier notifier(QDBusConnection::sessionBus(), serviceName, 300);
    notifier.showNotification("title", "body");  // returns at once: the call is queued
    EXPECT_EQ(notifier.fallbackCount(), 0);
    ASSERT_TRUE(waitUntil([&] { return notifier.fallbackCount() == 1; }, 5000));
    EXPECT_EQ(notifier.deliveredCount(), 0);
}

TEST(DbusNotifierNoBus, DisconnectedBusLogsInstead) {
    std::vector<std::string> lines;
    setLogSinkForTesting([&](const std::string& line) { lines.push_back(line); });
    QDBusConnection nowhere = QDBusConnection::connectToBus(
        QStringLiteral("unix:path=/nonexistent/corvane-bus"), QStringLiteral("nowhere"));
    ASSERT_FALSE(nowhere.isConnected());
    DbusNotifier notifier(nowhere, DbusNotifier::kDefaultService, 1000);
    notifier.showNotification("Corvane - Clip not saved", "Not enough video recorded yet to save a clip.");
    EXPECT_TRUE(waitUntil([&] { return notifier.fallbackCount() == 1; }, 2000));
    setLogSinkForTesting(nullptr);
    QDBusConnection::disconnectFromBus(QStringLiteral("nowhere"));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "[Corvane] Corvane - Clip not saved: Not enough video recorded yet to save a clip.");
}

}  // namespace
}  // namespace corvane::test
