// The built program on the test session's X server and audio server, with a session bus of its
// own (so instances of other suites on the shared bus cannot answer for it): a second start hands
// over to the first and exits 0, and SaveClip answers with a finished clip and says when the
// buffer held less than asked. (`corvane --save` printing a saved clip's path is run end to end
// in e2e/wayland_e2e.sh.)
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QProcess>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "media/probe/FfmpegClipProber.h"
#include "platform/events/PrivateServer.h"
#include "platform/instance/ControlService.h"
#include "support/QtEventWait.h"
#include "support/TempDir.h"

namespace corvane {
namespace {

TEST(RunningProgramTest, SecondStartHandsOverAndSaveClipAnswersWithAFinishedClip) {
    test::TempDir home;
    test::PrivateServer bus{QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address=1"}};
    const QString address = bus.address();
    QProcess first, second;  // killed on the way out, before their bus
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
    environment.insert(QStringLiteral("HOME"), QString::fromStdString(home.path().string()));
    // The whole program with its window, preview and audio: some of what Qt's plugins, GStreamer
    // and Mesa keep until exit is reported from modules already unloaded, which no suppression
    // can name. Leaks in Corvane's own code are checked by the suites' binaries.
    environment.insert(QStringLiteral("ASAN_OPTIONS"),
                       environment.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":detect_leaks=0"));
    for (QProcess* program : {&first, &second}) {
        program->setProcessEnvironment(environment);
        program->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    }
    // An unfinished clip of an earlier run (a crash during a save) and a user's lookalike.
    const std::filesystem::path clips = home.path() / "Videos" / "Corvane";
    std::filesystem::create_directories(clips);
    std::ofstream(clips / ".tmp_clip_Ab12Cd.mp4") << "half a clip";
    std::ofstream(clips / "tmp_clip_Ab12Cd.mp4") << "the user's";
    QDBusConnection client = QDBusConnection::connectToBus(address, QStringLiteral("running-program"));
    const auto call = [&](const char* method, const QVariantList& args = {}) {
        QDBusMessage message =
            QDBusMessage::createMethodCall(kControlServiceName, kControlObjectPath, kControlInterface, method);
        message.setArguments(args);
        return client.call(message, QDBus::Block, 60000);
    };

    first.start(QStringLiteral(CORVANE_BINARY_PATH), {});
    ASSERT_TRUE(test::waitUntil([&] { return client.interface()->isServiceRegistered(kControlServiceName).value(); },
                                30000));
    second.start(QStringLiteral(CORVANE_BINARY_PATH), {});
    ASSERT_TRUE(second.waitForFinished(30000));
    EXPECT_EQ(second.readAllStandardOutput().toStdString(), "Corvane is already running; showing its window.\n");
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_FALSE(std::filesystem::exists(clips / ".tmp_clip_Ab12Cd.mp4"));
    EXPECT_TRUE(std::filesystem::exists(clips / "tmp_clip_Ab12Cd.mp4"));
    EXPECT_EQ(second.exitCode(), 0);  // 0 only once the first has answered ShowWindow
    EXPECT_EQ(first.state(), QProcess::Running);

    ASSERT_TRUE(test::waitUntil([&] {
        const QDBusMessage status = call("GetStatus");
        return status.type() == QDBusMessage::ReplyMessage &&
               qdbus_cast<QVariantMap>(status.arguments().value(0)).value("buffered_seconds").toDouble() >= 6.0;
    }, 60000)) << "capture fills the buffer";
    // More than the buffer holds: what there is, in a finished file under the clips folder, and
    // the reply says so.
    const QDBusMessage longer = call("SaveClip", {601.0});
    ASSERT_EQ(longer.type(), QDBusMessage::ReplyMessage) << longer.errorMessage().toStdString();
    const std::string path = longer.arguments().value(0).toString().toStdString();
    EXPECT_TRUE(path.starts_with((clips / "Clip_").string())) << path;
    const double written = FfmpegClipProber::probeDuration(path);
    EXPECT_GT(written, 5.0);
    EXPECT_LT(written, 300.0);
    EXPECT_TRUE(longer.arguments().value(1).toString().endsWith(QStringLiteral(" s of the 601 s asked")))
        << longer.arguments().value(1).toString().toStdString();

    first.terminate();
    ASSERT_TRUE(first.waitForFinished(15000));
    EXPECT_EQ(first.exitCode(), 0);
    QDBusConnection::disconnectFromBus(QStringLiteral("running-program"));
}

}  // namespace
}  // namespace corvane
