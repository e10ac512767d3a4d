// Instances on the real session bus of the test session. Each "instance" gets its own bus
// connection; later ones claim from a worker thread so the first can keep serving calls on the
// main thread, as two processes would.
#include "platform/instance/SingleInstance.h"

#include <atomic>
#include <thread>

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingReply>

#include <gtest/gtest.h>

#include "platform/instance/ControlService.h"
#include "support/QtEventWait.h"

namespace corvane {
namespace {

using test::waitUntil;

// A name of our own per test process: other suites may run a real Corvane on the same bus.
QString testServiceName() {
    return QStringLiteral("org.corvane.Corvane.Test%1").arg(QCoreApplication::applicationPid());
}

QDBusConnection connect(const QString& name) {
    return QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
}

// Claims on a fresh connection from a worker thread while the main thread serves the first's calls.
InstanceClaim claimFromOtherInstance(const QString& connectionName) {
    InstanceClaim result;
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        {
            ControlService other;
            result = claimSingleInstance(other, connect(connectionName), testServiceName());
        }
        QDBusConnection::disconnectFromBus(connectionName);
        finished = true;
    });
    EXPECT_TRUE(waitUntil([&] { return finished.load(); }, 10000));
    worker.join();
    return result;
}

class SingleInstanceTest : public ::testing::Test {
protected:
    void TearDown() override { QDBusConnection::disconnectFromBus(QStringLiteral("first")); }

    void claimFirst() {
        ASSERT_EQ(claimSingleInstance(first_, connect(QStringLiteral("first")), testServiceName()).role,
                  InstanceRole::primary);
    }
    QDBusPendingCall callFirst(const QString& method, const QList<QVariant>& args = {}) {
        QDBusMessage msg = QDBusMessage::createMethodCall(testServiceName(), kControlObjectPath, kControlInterface, method);
        msg.setArguments(args);
        return client_.asyncCall(msg, 60000);
    }
    static bool allFinished(const std::vector<QDBusPendingCall>& calls) {
        return waitUntil([&] { return std::all_of(calls.begin(), calls.end(), [](auto& c) { return c.isFinished(); }); },
                         10000);
    }

    ControlService first_;
    QDBusConnection client_ = connect(QStringLiteral("client"));
};

// The hand-over itself is proved with the built program in RunningProgramTest; a start without a
// session bus runs on its own (the command-line tests start the program so). Here: an owner still
// starting makes the second start fail; calls with bad arguments never reach the program; SaveClip
// answers only once the save has finished, with the path or the real reason.
TEST_F(SingleInstanceTest, CallsReachTheOwnerOnlyWhenValidAndSaveClipRepliesWhenTheFileIsComplete) {
    claimFirst();  // no handlers yet: the owner answers with an error, which is no handover
    const InstanceClaim second = claimFromOtherInstance(QStringLiteral("second"));
    EXPECT_EQ(second.role, InstanceRole::failed);
    EXPECT_TRUE(second.message.contains(QStringLiteral("still starting"))) << second.message.toStdString();

    std::vector<double> asked;
    std::vector<std::function<void(SaveClipOutcome)>> pending;
    bool readable = true;
    first_.setHandlers({.showWindow = [&](CorvaneTab) { asked.push_back(-1); },
                        .saveClip = [&](double seconds, std::function<void(SaveClipOutcome)> done) {
                            asked.push_back(seconds);
                            pending.push_back(std::move(done));
                        },
                        .reloadConfig = [&] {
                            return readable ? ReloadConfigOutcome{}
                                            : ReloadConfigOutcome{false, "Could not read /c.toml: the file is empty"};
                        },
                        .getStatus = [] { return ControlStatus{true, 87.5, int64_t{3} << 32, false}; }});
    const auto save = [&](double seconds) { return callFirst(QStringLiteral("SaveClip"), {seconds}); };
    const std::vector<QDBusPendingCall> bad{callFirst(QStringLiteral("ShowWindow"), {QStringLiteral("library")}),
                                            save(0.0), save(-5.0), save(0.999),
                                            save(std::numeric_limits<double>::infinity()),
                                            save(std::numeric_limits<double>::quiet_NaN())};
    const std::vector<QDBusPendingCall> good{callFirst(QStringLiteral("ReloadConfig")),
                                             callFirst(QStringLiteral("GetStatus")), save(10.0), save(30.0)};
    ASSERT_TRUE(allFinished(bad) && allFinished({good[0], good[1]}));
    for (const QDBusPendingCall& call : bad) EXPECT_EQ(call.error().type(), QDBusError::InvalidArgs);
    for (size_t i = 2; i < bad.size(); ++i) {  // every refused length gets the same answer as zero
        EXPECT_EQ(bad[i].error().message(), bad[1].error().message()) << i;
    }
    EXPECT_FALSE(good[0].isError());
    const QVariantMap status = QDBusPendingReply<QVariantMap>(good[1]).value();
    EXPECT_EQ(status.value(QStringLiteral("memory_bytes")).toLongLong(), int64_t{3} << 32);  // past 32 bits
    EXPECT_EQ(status.value(QStringLiteral("saving")), QVariant(false));
    readable = false;
    const std::vector<QDBusPendingCall> unreadable{callFirst(QStringLiteral("ReloadConfig"))};
    ASSERT_TRUE(allFinished(unreadable));
    EXPECT_EQ(unreadable[0].error().name(), QStringLiteral("org.corvane.Corvane.Error.ReloadFailed"));
    EXPECT_EQ(unreadable[0].error().message(), QStringLiteral("Could not read /c.toml: the file is empty"));

    ASSERT_TRUE(waitUntil([&] { return pending.size() == 2; }));
    EXPECT_EQ(asked, (std::vector<double>{10.0, 30.0}));
    EXPECT_FALSE(good[2].isFinished());  // nothing is answered before the save finishes
    // Completions come from the save's own thread.
    std::thread([&] {
        pending[1]({false, "No space left on device"});
        pending[0]({true, "/clips/Clip_2026-12-06_18-00-00_10s.mp4", "Saved 7 s of the 10 s asked"});
    }).join();
    ASSERT_TRUE(allFinished(good));
    const QDBusPendingReply<QString, QString> ok = good[2];
    const QDBusPendingReply<QString> failed = good[3];
    ASSERT_FALSE(ok.isError()) << ok.error().message().toStdString();
    EXPECT_EQ(ok.argumentAt<0>(), QStringLiteral("/clips/Clip_2026-12-06_18-00-00_10s.mp4"));
    EXPECT_EQ(ok.argumentAt<1>(), QStringLiteral("Saved 7 s of the 10 s asked"));
    EXPECT_EQ(failed.error().name(), QStringLiteral("org.corvane.Corvane.Error.SaveFailed"));
    EXPECT_EQ(failed.error().message(), QStringLiteral("No space left on device"));
}

}  // namespace
}  // namespace corvane
