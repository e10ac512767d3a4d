// Global shortcuts through the real desktop portal frontend (xdg-desktop-portal), run on a D-Bus
// daemon of the test's own with a GlobalShortcuts back end of the test's own that the frontend
// loads from XDG_DESKTOP_PORTAL_DIR (no Debian back end outside KDE implements it). The frontend
// checks every call against its own interface and forwards what a desktop would get. The back
// end's timers run on a virtual clock the test moves.
#include "platform/wayland/PortalHotkeyBackend.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QProcess>

#include <gtest/gtest.h>

#include <tuple>

#include "core/sched/ManualScheduler.h"
#include "platform/events/PrivateServer.h"
#include "platform/wayland/PortalShortcutTrigger.h"
#include "support/CaptureLogLines.h"
#include "support/QtEventWait.h"
#include "support/TempDir.h"
#include "support/TextFiles.h"

namespace corvane::test {
namespace {

TEST(PortalShortcutTrigger, CombinationsAreWrittenInThePortalsNotation) {
    for (const auto& [shortcut, trigger] : {std::pair{"Super+Shift+1", "SHIFT+LOGO+1"},
                                            {"cmd+opt+ctrl+shift+Z", "CTRL+ALT+SHIFT+LOGO+z"},
                                            {"Alt+F12", "ALT+F12"}, {"Ctrl+Enter", "CTRL+Return"},
                                            {"Super+Space", "LOGO+space"}, {"Shift+/", "SHIFT+slash"},
                                            {"Ctrl+[", "CTRL+bracketleft"}, {"Super+Esc", "LOGO+Escape"},
                                            {"Left", "Left"}}) {
        EXPECT_EQ(portalTriggerFor(parseShortcut(shortcut).value()), trigger) << shortcut;
    }
    for (uint16_t code = 0; code < 256; ++code) {  // every key the notation names has a trigger
        EXPECT_TRUE(!keyName(code) || portalTriggerFor({code, kShiftKeyMask})) << code;
    }
    EXPECT_EQ(portalTriggerFor({200, kShiftKeyMask}), std::nullopt);
}

const QString kDesktopPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kImplInterface = QStringLiteral("org.freedesktop.impl.portal.GlobalShortcuts");

// The desktop's side: records sessions and bound sets, assigns each shortcut its preferred
// trigger except "profile-2", for which the "user" picks Ctrl+Alt+F6, and presses keys.
class StandInShortcutsDesktop : public QDBusVirtualObject {
public:
    QStringList sessions, closedSessions;
    std::vector<std::vector<std::tuple<QString, QString, QString>>> bound;  // id, description, trigger

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& call, const QDBusConnection& bus) override {
        if (call.member() == QLatin1String("Close")) {  // org.freedesktop.impl.portal.Session
            closedSessions << call.path();
            return bus.send(call.createReply());
        }
        if (call.interface() != kImplInterface) return false;
        QVariantMap results;
        if (call.member() == QLatin1String("CreateSession")) {
            sessions << call.arguments().value(1).value<QDBusObjectPath>().path();
        } else if (call.member() == QLatin1String("BindShortcuts")) {
            QList<PortalShortcutEntry> asked, assigned;
            call.arguments().value(2).value<QDBusArgument>() >> asked;
            auto& set = bound.emplace_back();
            for (const PortalShortcutEntry& e : asked) {
                const QString description = e.properties.value(QStringLiteral("description")).toString();
                const QString preferred = e.properties.value(QStringLiteral("preferred_trigger")).toString();
                set.emplace_back(e.id, description, preferred);
                const QString trigger = e.id == QLatin1String("profile-2") ? QStringLiteral("Ctrl+Alt+F6") : preferred;
                assigned.append({e.id, {{QStringLiteral("description"), description},
                                        {QStringLiteral("trigger_description"), trigger}}});
            }
            results.insert(QStringLiteral("shortcuts"), QVariant::fromValue(assigned));
        } else {
            return false;
        }
        return bus.send(call.createReply(QVariantList{QVariant::fromValue(0u), results}));
    }
    // The desktop takes the shortcuts back: it ends the newest session.
    void closeNewestSession(QDBusConnection bus) const {
        bus.send(QDBusMessage::createSignal(sessions.back(), QStringLiteral("org.freedesktop.impl.portal.Session"),
                                            QStringLiteral("Closed")));
    }
    void press(QDBusConnection bus, const QString& id) const {
        QDBusMessage signal = QDBusMessage::createSignal(kDesktopPath, kImplInterface, QStringLiteral("Activated"));
        signal << QVariant::fromValue(QDBusObjectPath(sessions.back())) << id << QVariant::fromValue(qulonglong(1))
               << QVariantMap();
        bus.send(signal);
    }
};

class PortalHotkeyBackendTest : public ::testing::Test {
protected:
    PortalHotkeyBackendTest() {
        registerPortalShortcutTypes();
        writeTextFile(portals / "corvane-test.portal",
                      "[portal]\nDBusName=org.corvane.TestShortcutsDesktop\n"
                      "Interfaces=org.freedesktop.impl.portal.GlobalShortcuts;\nUseIn=corvane-test\n");
        desktopBus.registerVirtualObject(kDesktopPath, &desktop, QDBusConnection::SubPath);
        desktopBus.registerService(QStringLiteral("org.corvane.TestShortcutsDesktop"));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
        env.insert(QStringLiteral("XDG_DESKTOP_PORTAL_DIR"), QString::fromStdString(portals.path().string()));
        env.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("corvane-test"));
        frontend.setProcessEnvironment(env);
        frontend.start(QStringLiteral("/usr/libexec/xdg-desktop-portal"), {});
    }
    ~PortalHotkeyBackendTest() override {
        stopFrontend();
        QDBusConnection::disconnectFromBus(QStringLiteral("stand-in-desktop"));
    }
    bool frontendIsUp() {
        return waitUntil([&] {
            return desktopBus.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.portal.Desktop")).value();
        }, 10000);
    }
    void stopFrontend() {
        frontend.terminate();
        frontend.waitForFinished(3000);
    }
    std::unique_ptr<PortalHotkeyBackend> openBackend() {
        std::string whyNot;
        auto backend = PortalHotkeyBackend::open(scheduler, &whyNot, bus.address());
        EXPECT_TRUE(backend) << whyNot;
        return backend;
    }

    PrivateServer bus{QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address=1"}};
    TempDir portals;
    ManualScheduler scheduler;
    LogCapture log;
    StandInShortcutsDesktop desktop;
    QDBusConnection desktopBus = QDBusConnection::connectToBus(bus.address(), QStringLiteral("stand-in-desktop"));
    QProcess frontend;
};

TEST_F(PortalHotkeyBackendTest, BindsThroughTheFrontendActivatesByIdRebindsAndBindsADroppedSetAgain) {
    ASSERT_TRUE(frontendIsUp()) << frontend.readAllStandardError().toStdString();
    auto backend = openBackend();
    ASSERT_TRUE(backend);
    std::vector<std::string> pressed;
    backend->setActivationHandler([&](const std::string& id) { pressed.push_back(id); });
    std::optional<std::vector<HotkeyBindResult>> results;
    const auto bindAndWait = [&](std::vector<HotkeyBinding> set) {
        results.reset();
        backend->bind(set, [&](std::vector<HotkeyBindResult> r) { results = std::move(r); });
        return waitUntil([&] { return results.has_value(); }, 10000);
    };
    const auto pressReaches = [&](const char* id) {
        pressed.clear();
        desktop.press(desktopBus, QString::fromLatin1(id));
        return waitUntil([&] { return pressed == std::vector<std::string>{id}; });
    };
    const auto keys = [](const char* text) { return parseShortcut(text).value(); };
    using Bound = std::vector<std::tuple<QString, QString, QString>>;
    using Result = HotkeyBindResult;

    ASSERT_TRUE(bindAndWait({{"profile-1", keys("Super+Shift+1"), "Save last 30 seconds"},
                             {"profile-2", keys("Ctrl+Alt+F5"), "Save last 1 minute"},
                             {"profile-3", keys("shift+cmd+1"), "Save last 2 minutes"}}));
    ASSERT_EQ(desktop.bound.size(), 1u);
    EXPECT_EQ(desktop.bound[0], (Bound{{"profile-1", "Save last 30 seconds", "SHIFT+LOGO+1"},
                                       {"profile-2", "Save last 1 minute", "CTRL+ALT+F5"}}));
    EXPECT_EQ(*results, (std::vector<Result>{{HotkeyBindStatus::bound, 0, "SHIFT+LOGO+1"},
                                             {HotkeyBindStatus::bound, 0, "Ctrl+Alt+F6"},
                                             {HotkeyBindStatus::duplicateInSet, -1, ""}}));
    EXPECT_TRUE(pressReaches("profile-2"));

    // A profile change: the new set on the same session.
    ASSERT_TRUE(bindAndWait({{"profile-1", keys("Super+Shift+9"), "Save last 2 minutes"}}));
    EXPECT_EQ(desktop.sessions.size(), 1u);
    ASSERT_EQ(desktop.bound.size(), 2u);
    EXPECT_EQ(desktop.bound[1], (Bound{{"profile-1", "Save last 2 minutes", "SHIFT+LOGO+9"}}));
    EXPECT_TRUE(pressReaches("profile-1"));

    // Unbinding closes the session at the desktop, which is no loss to make good; the next bind
    // opens another.
    backend->unbindAll();
    ASSERT_TRUE(waitUntil([&] { return desktop.closedSessions == QStringList{desktop.sessions[0]}; }));
    EXPECT_EQ(scheduler.pendingCount(), 0u);
    ASSERT_TRUE(bindAndWait({{"profile-1", keys("Super+Shift+1"), "Save last 30 seconds"}}));
    EXPECT_EQ(desktop.sessions.size(), 2u);
    EXPECT_EQ(results->at(0).status, HotkeyBindStatus::bound);

    // A set the desktop drops is bound again on a new session a second later: when the desktop
    // closes the session, and when the portal leaves the bus and comes back (a restart). (A newer
    // set ending those attempts: tests/core/shortcuts/ShortcutRebinderTest.)
    const auto attemptsPlanned = [&](int count) {
        return waitUntil([&] { return log.count("Binding the global shortcuts again in") == count; });
    };
    const auto reboundOnNewSession = [&](size_t sessions) {
        const bool rebound = waitUntil([&] {
            return size_t(desktop.sessions.size()) == sessions && desktop.bound.size() == sessions + 1;
        }, 10000);
        return rebound && desktop.bound.back() == desktop.bound[2] && pressReaches("profile-1");
    };
    desktop.closeNewestSession(desktopBus);
    ASSERT_TRUE(attemptsPlanned(1)) << "the close was not seen";
    EXPECT_EQ(desktop.bound.size(), 3u);
    scheduler.advanceBy(ShortcutRebinder::kFirstDelay);
    EXPECT_TRUE(reboundOnNewSession(3));

    stopFrontend();
    ASSERT_TRUE(waitUntil([&] { return log.contains("shortcut portal left the session bus"); }));
    frontend.start(QStringLiteral("/usr/libexec/xdg-desktop-portal"), {});
    ASSERT_TRUE(frontendIsUp()) << frontend.readAllStandardError().toStdString();
    ASSERT_TRUE(attemptsPlanned(3));  // at the loss, and a second after the return
    scheduler.advanceBy(ShortcutRebinder::kFirstDelay);
    EXPECT_TRUE(reboundOnNewSession(4));
}

}  // namespace
}  // namespace corvane::test
