#include "platform/dbus/DbusNotifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QStringList>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/CaptureLogLines.h"
#include "support/QtEventWait.h"

namespace corvane::test {
namespace {

// A notification server on its own connection, under a name of its own.
class ScriptedServer : public QDBusVirtualObject {
public:
    QStringList capabilities;
    bool answer = true;  // false: calls are taken and never answered (a hung server)
    std::vector<std::pair<QString, QString>> received;  // summary, body
    std::vector<QStringList> actions;                   // of each Notify, in order
    std::vector<QString> icons;                         // app_icon of each Notify
    std::vector<QDBusMessage> unanswered;  // kept, so the calls stay open

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        QVariant result = QVariant(capabilities);
        if (message.member() == QLatin1String("Notify")) {
            received.emplace_back(message.arguments().value(3).toString(), message.arguments().value(4).toString());
            icons.push_back(message.arguments().value(2).toString());
            actions.push_back(message.arguments().value(5).toStringList());
            result = uint(received.size());
        } else if (message.member() != QLatin1String("GetCapabilities")) {
            return false;
        }
        if (answer) connection.send(message.createReply(result));
        else unanswered.push_back(message);
        return true;
    }
};

class DbusNotifierTest : public ::testing::Test {
protected:
    ~DbusNotifierTest() override {
        serverBus.unregisterService(serviceName);
        serverBus.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
        QDBusConnection::disconnectFromBus(serverBus.name());
    }
    void serve() {
        ASSERT_TRUE(serverBus.isConnected()) << "tests need the session bus";
        ASSERT_TRUE(serverBus.registerVirtualObject(QStringLiteral("/org/freedesktop/Notifications"), &server));
        ASSERT_TRUE(serverBus.registerService(serviceName));
    }

    ScriptedServer server;
    QDBusConnection serverBus =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("scripted-notifications"));
    const QString serviceName =
        QStringLiteral("org.corvane.test.Notifications.p%1").arg(QCoreApplication::applicationPid());
    LogCapture log;
};

// The session's own server (dunst): it takes the clip's notification with its actions, and a
// click on it (dunst's NotificationAction, what its mouse binding does) opens the clip.
TEST_F(DbusNotifierTest, SessionNotificationServerAcceptsTheSaveNotificationAndItsClickOpensTheClip) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    auto dunst = [&](const char* member, QVariantList args = {}) {
        QDBusMessage call = QDBusMessage::createMethodCall(DbusNotifier::kDefaultService,
                                                           QStringLiteral("/org/freedesktop/Notifications"),
                                                           QStringLiteral("org.dunstproject.cmd0"),
                                                           QString::fromLatin1(member));
        call.setArguments(args);
        return bus.call(call, QDBus::Block, 2000);
    };
    ASSERT_NE(dunst("NotificationCloseAll").type(), QDBusMessage::ErrorMessage)
        << "tests need the session's dunst";
    DbusNotifier notifier;
    std::vector<std::string> opened;
    notifier.setClipActions({.open = [&](const std::string& p) { opened.push_back(p); }, .showInFiles = {}});
    // A title of its own: other tests watch the session bus for the real save notifications.
    notifier.showClipSaved("Corvane notification test", "Clip_x_12s.mp4\nSaved in ~/Videos/Corvane",
                           "/clips/Clip_x_12s.mp4");
    ASSERT_TRUE(waitUntil([&] { return notifier.deliveredCount() + notifier.fallbackCount() > 0; }));
    EXPECT_EQ(notifier.deliveredCount(), 1) << "the session's notification server did not accept it";
    EXPECT_TRUE(log.lines().empty());
    // dunst shows it after its own short delay; until then it is waiting, not displayed.
    ASSERT_TRUE(waitUntil([&] {
        dunst("NotificationAction", {QVariant::fromValue(uint(0))});
        return !opened.empty();
    }, 5000)) << "a click on the notification did not open the clip";
    EXPECT_EQ(opened, std::vector<std::string>{"/clips/Clip_x_12s.mp4"});
}

// A markup server gets the body escaped, a plain one as written; notifications sent before the
// capabilities arrive keep their order. A saved clip offers Open and Show in Files with the icon,
// and a click (ActionInvoked from the owner of the service name, for the id its Notify answered)
// reaches the handler with that clip.
TEST_F(DbusNotifierTest, BodyIsEscapedOnlyForMarkupServersAndClipActionsReachTheirHandlers) {
    server.capabilities = {QStringLiteral("body"), QStringLiteral("body-markup")};
    serve();
    {
        DbusNotifier notifier(QDBusConnection::sessionBus(), serviceName, 2000);
        notifier.showNotification("Corvane - Clip not saved", "Could not write <clips> & \"more\"");
        ASSERT_TRUE(waitUntil([&] { return server.received.size() == 1; }));
    }
    server.capabilities = {QStringLiteral("body"), QStringLiteral("actions")};
    DbusNotifier notifier(QDBusConnection::sessionBus(), serviceName, 2000);
    const QString icon = QStringLiteral("/usr/share/icons/corvane.svg");
    notifier.setAppIcon(icon);
    std::vector<std::string> opened, shown;
    notifier.setClipActions({.open = [&](const std::string& p) { opened.push_back(p); },
                             .showInFiles = [&](const std::string& p) { shown.push_back(p); }});
    notifier.showNotification("first", "a <b> & c");  // all three before the capabilities arrive
    notifier.showClipSaved("Corvane - Clip saved (5s)", "Clip_5s.mp4", "/clips/Clip_5s.mp4");
    notifier.showClipSaved("Corvane - Clip saved (9s)", "Clip_9s.mp4", "/clips/Clip_9s.mp4");
    ASSERT_TRUE(waitUntil([&] { return notifier.deliveredCount() == 3; }));
    using Shown = std::pair<QString, QString>;
    EXPECT_EQ(server.received,
              (std::vector<Shown>{{"Corvane - Clip not saved", "Could not write &lt;clips&gt; &amp; &quot;more&quot;"},
                                  {"first", "a <b> & c"},
                                  {"Corvane - Clip saved (5s)", "Clip_5s.mp4"},
                                  {"Corvane - Clip saved (9s)", "Clip_9s.mp4"}}));
    const QStringList offered = {"default", "Open", "open", "Open", "show-in-files", "Show in Files"};
    EXPECT_EQ(std::vector<QStringList>(server.actions.begin() + 1, server.actions.end()),
              (std::vector<QStringList>{{}, offered, offered}));
    EXPECT_EQ(std::vector<QString>(server.icons.begin() + 1, server.icons.end()), std::vector<QString>(3, icon));

    auto invoke = [&](uint id, const char* key) {
        QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/Notifications"),
                                                         QStringLiteral("org.freedesktop.Notifications"),
                                                         QStringLiteral("ActionInvoked"));
        signal << id << QString::fromLatin1(key);
        serverBus.send(signal);
    };
    // Notify answered 1 to 4 in order: 3 and 4 are the clips.
    invoke(4, "show-in-files");
    invoke(3, "default");
    invoke(2, "open");  // the plain notification has no clip
    ASSERT_TRUE(waitUntil([&] { return shown.size() == 1 && opened.size() == 1; }));
    serveEvents(100);
    EXPECT_EQ(shown, std::vector<std::string>{"/clips/Clip_9s.mp4"});
    EXPECT_EQ(opened, std::vector<std::string>{"/clips/Clip_5s.mp4"});
}

// No server on the bus, no bus at all, or a server that never answers (the call is queued, so the
// caller never waits): the notification becomes one log line.
TEST_F(DbusNotifierTest, WithoutAnAnsweringServerTheNotificationBecomesOneLogLine) {
    QDBusConnection nowhere = QDBusConnection::connectToBus(
        QStringLiteral("unix:path=/nonexistent/corvane-bus"), QStringLiteral("nowhere"));
    ASSERT_FALSE(nowhere.isConnected());
    server.answer = false;
    serve();
    const std::pair<QDBusConnection, QString> targets[] = {
        {QDBusConnection::sessionBus(), QStringLiteral("org.corvane.test.NobodyHere")},
        {nowhere, DbusNotifier::kDefaultService},
        {QDBusConnection::sessionBus(), serviceName}};
    for (const auto& [bus, service] : targets) {
        LogCapture lines;
        DbusNotifier notifier(bus, service, 300);
        notifier.showNotification("Corvane - Clip saved (5s)", "Clip_5s.mp4\nSaved in ~/Videos/Corvane");
        EXPECT_TRUE(waitUntil([&] { return notifier.fallbackCount() == 1; })) << service.toStdString();
        EXPECT_EQ(notifier.deliveredCount(), 0);
        EXPECT_EQ(lines.lines(), std::vector<std::string>{
                             "[Corvane] Corvane - Clip saved (5s): Clip_5s.mp4 | Saved in ~/Videos/Corvane"});
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("nowhere"));
}

}  // namespace
}  // namespace corvane::test
