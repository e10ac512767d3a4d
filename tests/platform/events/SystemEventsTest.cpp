// Sleep and screen events from real sources: a stand-in logind (with a real inhibitor file
// descriptor) and a stand-in screen saver on a D-Bus daemon of the test's own, which the session's
// other programs never hear. (Display mode switches: X11CaptureBackendTest, on an X server of its own.)
#include "platform/events/LinuxSystemEvents.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QDBusVirtualObject>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <tuple>
#include <utility>

#include "platform/events/PrivateServer.h"
#include "support/QtEventWait.h"

namespace corvane::test {
namespace {

// Answers Inhibit with the write end of a pipe, as logind hands out an fd that holds the lock
// until every copy is closed. The test keeps the read end and sees when the lock is let go.
class FakeLogind : public QDBusVirtualObject {
public:
    int inhibitCalls = 0;
    QString lastMode;
    int readEnd = -1;

    ~FakeLogind() override { ::close(readEnd); }
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        int fds[2];
        if (message.member() != QLatin1String("Inhibit") || ::pipe2(fds, O_CLOEXEC) != 0) return false;
        ++inhibitCalls;
        lastMode = message.arguments().value(3).toString();
        ::close(std::exchange(readEnd, fds[0]));
        connection.send(message.createReply(QVariant::fromValue(QDBusUnixFileDescriptor(fds[1]))));
        ::close(fds[1]);  // the descriptor object sent a copy
        return true;
    }
    // True when every copy of the lock's fd is closed.
    bool lockReleased() const {
        pollfd p{readEnd, POLLIN, 0};
        return ::poll(&p, 1, 0) == 1 && (p.revents & POLLHUP);
    }
};

class SystemEventsTest : public ::testing::Test {
protected:
    ~SystemEventsTest() override {
        events.reset();
        for (const char* name : {"fake-service", "impostor", "watch-system", "watch-session"}) {
            QDBusConnection::disconnectFromBus(QString::fromLatin1(name));
        }
    }
    QDBusConnection connect(const char* name) {
        return QDBusConnection::connectToBus(bus.address(), QString::fromLatin1(name));
    }
    void startEvents() {
        events = std::make_unique<LinuxSystemEvents>(connect("watch-system"), connect("watch-session"), nullptr);
        events->start({[this] { ++sleeps; }, [this] { ++wakes; }, [this] { ++screensSleep; },
                       [this] { ++screensWake; }, {}});
    }
    static void emitSignal(QDBusConnection bus, const char* path, const char* interface,
                           const char* name, bool value) {
        QDBusMessage signal = QDBusMessage::createSignal(QString::fromLatin1(path), QString::fromLatin1(interface),
                                                         QString::fromLatin1(name));
        ASSERT_TRUE(bus.send(signal << value));
    }

    PrivateServer bus{QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address=1"}};
    QDBusConnection service = connect("fake-service");
    std::unique_ptr<LinuxSystemEvents> events;
    int sleeps = 0, wakes = 0, screensSleep = 0, screensWake = 0;
};

TEST_F(SystemEventsTest, SleepAndScreenEdgesOncePerChangeFromTheOwnerOnlyAndTheDelayLock) {
    ASSERT_TRUE(service.isConnected()) << "could not start dbus-daemon";
    FakeLogind logind;
    ASSERT_TRUE(service.registerVirtualObject(QStringLiteral("/org/freedesktop/login1"), &logind));
    ASSERT_TRUE(service.registerService(QStringLiteral("org.freedesktop.login1")));
    ASSERT_TRUE(service.registerService(QStringLiteral("org.freedesktop.ScreenSaver")));
    const auto prepare = [](QDBusConnection from, bool value) {
        emitSignal(from, "/org/freedesktop/login1", "org.freedesktop.login1.Manager", "PrepareForSleep", value);
    };
    startEvents();
    ASSERT_TRUE(waitUntil([&] { return events->holdsSleepDelay(); }));
    EXPECT_EQ(logind.lastMode, QStringLiteral("delay"));

    prepare(service, true);
    prepare(service, true);  // repeated: not a new sleep
    ASSERT_TRUE(waitUntil([&] { return sleeps == 1; }));
    EXPECT_FALSE(logind.lockReleased()) << "suspend waits until the pause is done";
    events->sleepPreparationDone();
    EXPECT_TRUE(logind.lockReleased());

    prepare(service, false);  // in order after the repeat: it was delivered and dropped by now
    ASSERT_TRUE(waitUntil([&] { return wakes == 1; }));
    EXPECT_EQ(sleeps, 1);
    ASSERT_TRUE(waitUntil([&] { return events->holdsSleepDelay(); })) << "taken again for the next";
    EXPECT_EQ(logind.inhibitCalls, 2);

    prepare(connect("impostor"), true);  // a sender that does not own the name
    // The screen saver: desktops emit on both paths for one change.
    for (bool active : {true, false}) {
        for (const char* path : {"/org/freedesktop/ScreenSaver", "/ScreenSaver"}) {
            emitSignal(service, path, "org.freedesktop.ScreenSaver", "ActiveChanged", active);
        }
    }
    ASSERT_TRUE(waitUntil([&] { return screensWake == 1; }));
    serveEvents(100);
    EXPECT_EQ(std::tuple(sleeps, wakes, screensSleep, screensWake), std::tuple(1, 1, 1, 1));

    events->stop();
    EXPECT_TRUE(logind.lockReleased()) << "stopping lets go of the lock";
    prepare(service, true);
    serveEvents(100);
    EXPECT_EQ(sleeps, 1) << "nothing after stop";
}

}  // namespace
}  // namespace corvane::test
