// Sleep, screen and display events from real sources: a stand-in logind (with a real inhibitor
// file descriptor) and a stand-in screen saver on a D-Bus daemon of the test's own, and XRandR
// mode switches on an X server of the test's own. Nothing here reaches the session's buses or
// display, where other tests' programs listen.
#include "platform/events/LinuxSystemEvents.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QDBusVirtualObject>
#include <QProcess>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/events/PrivateBus.h"
#include "platform/events/QtWait.h"
#include "platform/events/XModeKeeper.h"

namespace corvane::test {
namespace {

// Answers Inhibit with the write end of a pipe, as logind hands out an fd that holds the lock
// until every copy is closed. The test keeps the read end and sees when the lock is let go.
class FakeLogind : public QDBusVirtualObject {
public:
    int inhibitCalls = 0;
    QString lastMode;
    int readEnd = -1;

    ~FakeLogind() override {
        if (readEnd >= 0) ::close(readEnd);
    }
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.member() != QLatin1String("Inhibit")) return false;
        ++inhibitCalls;
        lastMode = message.arguments().value(3).toString();
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return false;
        if (readEnd >= 0) ::close(readEnd);
        readEnd = fds[0];
        QDBusUnixFileDescriptor lock(fds[1]);  // dups it
        ::close(fds[1]);
        connection.send(message.createReply(QVariant::fromValue(lock)));
        return true;
    }
    // True when every copy of the lock's fd is closed.
    bool lockReleased() const {
        pollfd p{readEnd, POLLIN, 0};
        return ::poll(&p, 1, 0) == 1 && (p.revents & POLLHUP);
    }
};

struct Counts {
    int sleep = 0, wake = 0, screensSleep = 0, screensWake = 0, display = 0;
};

SystemEventHandlers counting(Counts& c) {
    SystemEventHandlers h;
    h.onSleep = [&c] { ++c.sleep; };
    h.onWake = [&c] { ++c.wake; };
    h.onScreensSleep = [&c] { ++c.screensSleep; };
    h.onScreensWake = [&c] { ++c.screensWake; };
    h.onDisplayConfigurationChanged = [&c] { ++c.display; };
    return h;
}

void emitSignal(QDBusConnection& bus, const char* path, const char* interface, const char* name,
                bool value) {
    QDBusMessage signal = QDBusMessage::createSignal(QString::fromLatin1(path),
                                                     QString::fromLatin1(interface),
                                                     QString::fromLatin1(name));
    signal << value;
    ASSERT_TRUE(bus.send(signal));
}

TEST(LogindSleep, SleepAndWakeEdgesAndTheDelayLock) {
    PrivateBus bus;
    ASSERT_TRUE(bus.ok()) << "could not start dbus-daemon";
    QDBusConnection fakeBus = bus.connect(QStringLiteral("fake-logind"));
    ASSERT_TRUE(fakeBus.isConnected());
    FakeLogind logind;
    ASSERT_TRUE(fakeBus.registerVirtualObject(QStringLiteral("/org/freedesktop/login1"), &logind));
    ASSERT_TRUE(fakeBus.registerService(QStringLiteral("org.freedesktop.login1")));

    Counts counts;
    {
        LinuxSystemEvents events(bus.connect(QStringLiteral("watch-system")),
                                 bus.connect(QStringLiteral("watch-session")), nullptr);
        events.start(counting(counts));
        ASSERT_TRUE(events.watchesSleep());
        ASSERT_TRUE(waitUntil([&] { return events.holdsSleepDelay(); }));
        EXPECT_EQ(logind.lastMode, QStringLiteral("delay"));

        const char* path = "/org/freedesktop/login1";
        const char* iface = "org.freedesktop.login1.Manager";
        emitSignal(fakeBus, path, iface, "PrepareForSleep", true);
        emitSignal(fakeBus, path, iface, "PrepareForSleep", true);  // repeated: not a new sleep
        ASSERT_TRUE(waitUntil([&] { return counts.sleep == 1; }));
        serveEvents(100);
        EXPECT_EQ(counts.sleep, 1);
        EXPECT_FALSE(logind.lockReleased()) << "suspend waits until the pause is done";

        events.sleepPreparationDone();
        EXPECT_TRUE(logind.lockReleased());

        emitSignal(fakeBus, path, iface, "PrepareForSleep", false);
        ASSERT_TRUE(waitUntil([&] { return counts.wake == 1; }));
        ASSERT_TRUE(waitUntil([&] { return events.holdsSleepDelay(); })) << "taken again for the next";
        EXPECT_EQ(logind.inhibitCalls, 2);

        // A sender that does not own the logind name cannot fake a suspend.
        QDBusConnection other = bus.connect(QStringLiteral("impostor"));
        emitSignal(other, path, iface, "PrepareForSleep", true);
        serveEvents(150);
        EXPECT_EQ(counts.sleep, 1);

        events.stop();
        EXPECT_TRUE(logind.lockReleased()) << "stopping lets go of the lock";
        emitSignal(fakeBus, path, iface, "PrepareForSleep", true);
        serveEvents(100);
        EXPECT_EQ(counts.sleep, 1) << "nothing after stop";
    }
}

TEST(ScreenSaver, ActiveChangedGivesScreenSleepAndWakeOncePerEdge) {
    PrivateBus bus;
    ASSERT_TRUE(bus.ok()) << "could not start dbus-daemon";
    QDBusConnection fakeBus = bus.connect(QStringLiteral("fake-screensaver"));
    ASSERT_TRUE(fakeBus.registerService(QStringLiteral("org.freedesktop.ScreenSaver")));
    Counts counts;
    LinuxSystemEvents events(bus.connect(QStringLiteral("watch-system")),
                             bus.connect(QStringLiteral("watch-session")), nullptr);
    events.start(counting(counts));
    ASSERT_TRUE(events.watchesScreenSaver());

    const char* iface = "org.freedesktop.ScreenSaver";
    // Desktops emit on both paths for one change.
    emitSignal(fakeBus, "/org/freedesktop/ScreenSaver", iface, "ActiveChanged", true);
    emitSignal(fakeBus, "/ScreenSaver", iface, "ActiveChanged", true);
    ASSERT_TRUE(waitUntil([&] { return counts.screensSleep == 1; }));
    emitSignal(fakeBus, "/org/freedesktop/ScreenSaver", iface, "ActiveChanged", false);
    emitSignal(fakeBus, "/ScreenSaver", iface, "ActiveChanged", false);
    ASSERT_TRUE(waitUntil([&] { return counts.screensWake == 1; }));
    serveEvents(100);
    EXPECT_EQ(counts.screensSleep, 1);
    EXPECT_EQ(counts.screensWake, 1);
    EXPECT_EQ(counts.sleep + counts.wake, 0);

    events.stop();
}

// An X server of the test's own, so switching its mode cannot disturb other tests.
class PrivateXServer {
public:
    PrivateXServer() {
        for (int n = 180; n < 200; ++n) {
            if (std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(n))) continue;
            name_ = ":" + std::to_string(n);
            process_.start(QStringLiteral("Xvfb"),
                           {QString::fromStdString(name_), QStringLiteral("-screen"), QStringLiteral("0"),
                            QStringLiteral("1920x1080x24"), QStringLiteral("-nolisten"),
                            QStringLiteral("tcp"), QStringLiteral("+extension"), QStringLiteral("RANDR")});
            const std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
            if (waitUntil([&] { return std::filesystem::exists(socket); }, 5000)) return;
            process_.kill();
            process_.waitForFinished();
        }
        name_.clear();
    }
    ~PrivateXServer() {
        process_.terminate();
        process_.waitForFinished(3000);
    }
    const std::string& name() const { return name_; }
    bool xrandr(const QStringList& args) {
        QProcess p;
        p.start(QStringLiteral("xrandr"), QStringList{QStringLiteral("-display"),
                                                      QString::fromStdString(name_)} + args);
        return p.waitForFinished(5000) && p.exitCode() == 0;
    }

private:
    std::string name_;
    QProcess process_;
};

TEST(RandrDisplays, ModeSwitchIsReportedOnceAndANoChangeNotAtAll) {
    PrivateXServer x;
    ASSERT_FALSE(x.name().empty()) << "could not start Xvfb";
    // A mode made by one client lives only as long as that client: keep its connection open.
    XModeKeeper mode(x.name(), "1280x720_t");
    ASSERT_TRUE(mode.ok());

    RandrDisplayWatcher watcher;
    int changes = 0;
    ASSERT_TRUE(watcher.start([&] { ++changes; }, x.name().c_str()));

    ASSERT_TRUE(x.xrandr({"--output", "screen", "--mode", "1920x1080"}));  // already so
    serveEvents(300);
    EXPECT_EQ(changes, 0);

    ASSERT_TRUE(x.xrandr({"--output", "screen", "--mode", "1280x720_t"}));
    ASSERT_TRUE(waitUntil([&] { return changes >= 1; }));
    serveEvents(300);  // the server sends several events for one switch
    EXPECT_EQ(changes, 1);

    ASSERT_TRUE(x.xrandr({"--output", "screen", "--mode", "1920x1080"}));
    ASSERT_TRUE(waitUntil([&] { return changes >= 2; }));
    serveEvents(300);
    EXPECT_EQ(changes, 2);

    watcher.stop();
    ASSERT_TRUE(x.xrandr({"--output", "screen", "--mode", "1280x720_t"}));
    serveEvents(300);
    EXPECT_EQ(changes, 2) << "nothing after stop";
}

TEST(RandrDisplays, NoDisplayMeansNoWatcher) {
    RandrDisplayWatcher watcher;
    EXPECT_FALSE(watcher.start([] {}, ":987"));
}

}  // namespace
}  // namespace corvane::test
