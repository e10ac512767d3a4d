// The built program on the test session's X server and audio server, with a session bus of its
// own (so other suites' instances on the shared bus cannot answer for it): a second start brings
// back the first one's closed window and exits 0; SaveClip returns a finished clip; GetStatus
// reports the buffer.
#include <signal.h>

#include <filesystem>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingReply>
#include <QElapsedTimer>
#include <QProcess>
#include <QVariantMap>

#include <gtest/gtest.h>

#include "platform/instance/ControlService.h"
#include "support/TempDir.h"

extern "C" {
#include <libavformat/avformat.h>
}

// Last: Xlib's macros (None, Bool, Status) would break the headers above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace corvane {
namespace {

template <typename Done>
bool spinUntil(Done done, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return true;
}

// Windows can go away between listing and asking about them: such errors are expected here and
// must not end the test process (Xlib's default handler exits).
int ignoreXErrors(Display*, XErrorEvent*) { return 0; }

// The process's main window (a top-level titled "Corvane...", found by its _NET_WM_PID) that is
// currently mapped, or None. No window manager runs, so top-levels are children of the root.
Window mappedMainWindow(Display* display, qint64 pid) {
    const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", True);
    const Atom nameAtom = XInternAtom(display, "_NET_WM_NAME", True);
    if (pidAtom == None || nameAtom == None) return None;
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count)) return None;
    Window found = None;
    for (unsigned i = 0; i < count && found == None; ++i) {
        Atom type = None;
        int format = 0;
        unsigned long items = 0, after = 0;
        unsigned char* data = nullptr;
        const bool ours = XGetWindowProperty(display, children[i], pidAtom, 0, 1, False, XA_CARDINAL, &type,
                                             &format, &items, &after, &data) == Success &&
                          data && items == 1 && static_cast<qint64>(*reinterpret_cast<unsigned long*>(data)) == pid;
        if (data) XFree(data);
        if (!ours) continue;
        unsigned char* name = nullptr;
        XWindowAttributes attributes;
        if (XGetWindowProperty(display, children[i], nameAtom, 0, 256, False, AnyPropertyType, &type, &format,
                               &items, &after, &name) == Success && name &&
            QByteArray(reinterpret_cast<char*>(name)).startsWith("Corvane") &&
            XGetWindowAttributes(display, children[i], &attributes) && attributes.map_state == IsViewable) {
            found = children[i];
        }
        if (name) XFree(name);
    }
    if (children) XFree(children);
    return found;
}

// What a window manager sends when the user clicks the close button.
void askToClose(Display* display, Window window) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
    XFlush(display);
}

double probedSeconds(const std::string& path) {
    AVFormatContext* context = nullptr;
    if (avformat_open_input(&context, path.c_str(), nullptr, nullptr) < 0) return -1;
    double seconds = -1;
    if (avformat_find_stream_info(context, nullptr) >= 0 && context->duration > 0)
        seconds = static_cast<double>(context->duration) / AV_TIME_BASE;
    avformat_close_input(&context);
    return seconds;
}

class RunningProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(qgetenv("DISPLAY"), QByteArray()) << "needs the test session's X server";
        display_ = XOpenDisplay(nullptr);
        ASSERT_NE(display_, nullptr);
        XSetErrorHandler(ignoreXErrors);

        bus_.start(QStringLiteral("dbus-daemon"),
                   {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
        ASSERT_TRUE(bus_.waitForStarted(5000));
        ASSERT_TRUE(spinUntil([&] { return bus_.canReadLine(); }, 5000));
        address_ = QString::fromUtf8(bus_.readLine()).trimmed();
        client_ = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address_, QStringLiteral("probe")));
        ASSERT_TRUE(client_->isConnected());

        environment_ = QProcessEnvironment::systemEnvironment();
        environment_.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address_);
        environment_.insert(QStringLiteral("HOME"), QString::fromStdString(home_.path().string()));
    }

    void TearDown() override {
        for (QProcess* p : {&second_, &first_}) {
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(5000);
            }
        }
        client_.reset();
        QDBusConnection::disconnectFromBus(QStringLiteral("probe"));
        bus_.kill();
        bus_.waitForFinished(5000);
        if (display_) XCloseDisplay(display_);
    }

    void start(QProcess& process) {
        process.setProcessEnvironment(environment_);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral(CORVANE_BINARY_PATH), {});
        ASSERT_TRUE(process.waitForStarted(5000));
    }

    QDBusPendingCall call(const QString& method, const QList<QVariant>& args = {}) {
        QDBusMessage msg = QDBusMessage::createMethodCall(kControlServiceName, kControlObjectPath,
                                                          kControlInterface, method);
        msg.setArguments(args);
        return client_->asyncCall(msg, 60000);
    }

    QVariantMap status() {
        QDBusPendingCall pending = call(QStringLiteral("GetStatus"));
        if (!spinUntil([&] { return pending.isFinished(); }, 10000)) return {};
        QDBusPendingReply<QVariantMap> reply = pending;
        return reply.isError() ? QVariantMap{} : reply.value();
    }

    test::TempDir home_;
    Display* display_ = nullptr;
    QProcess bus_;
    QString address_;
    std::unique_ptr<QDBusConnection> client_;
    QProcessEnvironment environment_;
    QProcess first_;
    QProcess second_;
};

TEST_F(RunningProgramTest, SecondStartBringsBackTheClosedWindowAndClipsAreSavedOverTheBus) {
    start(first_);
    ASSERT_TRUE(spinUntil([&] { return client_->interface()->isServiceRegistered(kControlServiceName).value(); },
                          30000));
    const qint64 pid = first_.processId();
    ASSERT_TRUE(spinUntil([&] { return mappedMainWindow(display_, pid) != None; }, 30000))
        << "the main window opens at start";

    // Closing the window leaves the program and its capture running.
    askToClose(display_, mappedMainWindow(display_, pid));
    ASSERT_TRUE(spinUntil([&] { return mappedMainWindow(display_, pid) == None; }, 10000));
    ASSERT_TRUE(spinUntil([&] { return status().value(QStringLiteral("buffered_seconds")).toDouble() >= 11.0; },
                          60000))
        << "capture keeps filling the buffer";
    EXPECT_EQ(first_.state(), QProcess::Running);
    const QVariantMap running = status();
    EXPECT_EQ(running.value(QStringLiteral("recording")), QVariant(true));
    EXPECT_GT(running.value(QStringLiteral("memory_bytes")).toLongLong(), 0);
    EXPECT_EQ(running.value(QStringLiteral("saving")), QVariant(false));

    // A second start hands over and ends with 0; the first shows the same window again.
    start(second_);
    ASSERT_TRUE(second_.waitForFinished(30000));
    EXPECT_EQ(second_.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second_.exitCode(), 0);
    EXPECT_TRUE(spinUntil([&] { return mappedMainWindow(display_, pid) != None; }, 10000));

    // SaveClip answers once the file is complete.
    QDBusPendingCall save = call(QStringLiteral("SaveClip"), {10.0});
    ASSERT_TRUE(spinUntil([&] { return save.isFinished(); }, 60000));
    QDBusPendingReply<QString> saved = save;
    ASSERT_FALSE(saved.isError()) << saved.error().message().toStdString();
    const std::string path = saved.value().toStdString();
    EXPECT_TRUE(path.starts_with(home_.path().string())) << path;
    ASSERT_TRUE(std::filesystem::exists(path));
    EXPECT_NEAR(probedSeconds(path), 10.0, 1.5);

    // A length that makes no sense is refused with an error instead of a clip.
    QDBusPendingCall bad = call(QStringLiteral("SaveClip"), {-1.0});
    ASSERT_TRUE(spinUntil([&] { return bad.isFinished(); }, 10000));
    EXPECT_TRUE(bad.isError());

    ::kill(static_cast<pid_t>(first_.processId()), SIGTERM);
    ASSERT_TRUE(first_.waitForFinished(15000));
    EXPECT_EQ(first_.exitCode(), 0);
}

}  // namespace
}  // namespace corvane
