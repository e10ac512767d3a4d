// Two instances on the real session bus of the test session. Each "instance" gets its own bus
// connection; the second claims from a worker thread so the first can keep serving calls on the
// main thread, as two processes would.
#include "platform/instance/SingleInstance.h"

#include <atomic>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingReply>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include "platform/instance/ControlService.h"

namespace corvane {
namespace {

// A name of our own per test process: other suites may run a real Corvane on the same bus.
QString testServiceName() {
    return QStringLiteral("org.corvane.Corvane.Test%1").arg(QCoreApplication::applicationPid());
}

QDBusConnection connect(const QString& name) {
    return QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
}

template <typename Done>
bool spinUntil(Done done, int timeoutMs = 10000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// Runs `claim` on a fresh connection from a worker thread while the main thread serves calls.
InstanceClaim claimFromOtherInstance(const QString& connectionName) {
    InstanceClaim result;
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        {
            ControlService second;
            result = claimSingleInstance(second, connect(connectionName), testServiceName());
        }
        QDBusConnection::disconnectFromBus(connectionName);
        finished = true;
    });
    EXPECT_TRUE(spinUntil([&] { return finished.load(); }));
    worker.join();
    return result;
}

class SingleInstanceTest : public ::testing::Test {
protected:
    void TearDown() override { QDBusConnection::disconnectFromBus(QStringLiteral("first")); }

    QDBusPendingCall callFirst(const QString& method, const QList<QVariant>& args) {
        QDBusMessage msg = QDBusMessage::createMethodCall(testServiceName(), kControlObjectPath,
                                                          kControlInterface, method);
        msg.setArguments(args);
        return client_.asyncCall(msg, 60000);
    }

    void claimFirst() {
        ASSERT_EQ(claimSingleInstance(first_, connect(QStringLiteral("first")), testServiceName()).role,
                  InstanceRole::primary);
    }

    ControlService first_;
    QDBusConnection client_ = connect(QStringLiteral("client"));
};

TEST_F(SingleInstanceTest, SecondStartAsksTheFirstToShowItsClipsTabAndHandsOver) {
    std::vector<CorvaneTab> shown;
    first_.setHandlers({.showWindow = [&](CorvaneTab tab) { shown.push_back(tab); }});
    claimFirst();

    const InstanceClaim second = claimFromOtherInstance(QStringLiteral("second"));
    EXPECT_EQ(second.role, InstanceRole::handedOver) << second.message.toStdString();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], CorvaneTab::clips);

    // A third start behaves the same: the first instance still owns the name.
    EXPECT_EQ(claimFromOtherInstance(QStringLiteral("third")).role, InstanceRole::handedOver);
    EXPECT_EQ(shown.size(), 2u);
}

TEST_F(SingleInstanceTest, NameIsFreedWhenTheFirstInstanceGoesAway) {
    claimFirst();
    QDBusConnection::disconnectFromBus(QStringLiteral("first"));
    ASSERT_TRUE(spinUntil(
        [&] { return !client_.interface()->isServiceRegistered(testServiceName()).value(); }));

    ControlService next;
    const QString name = QStringLiteral("next");
    EXPECT_EQ(claimSingleInstance(next, connect(name), testServiceName()).role, InstanceRole::primary);
    QDBusConnection::disconnectFromBus(name);
}

TEST_F(SingleInstanceTest, OwnerThatCannotShowItsWindowMakesTheSecondStartFail) {
    // Handlers not set yet: the owner answers with an error, which must not count as handed over.
    claimFirst();
    const InstanceClaim second = claimFromOtherInstance(QStringLiteral("second"));
    EXPECT_EQ(second.role, InstanceRole::failed);
    EXPECT_TRUE(second.message.contains(QStringLiteral("still starting"))) << second.message.toStdString();
}

TEST_F(SingleInstanceTest, WithoutABusTheProgramRunsStandaloneWithAReason) {
    ControlService lonely;
    const QString name = QStringLiteral("nowhere");
    const QDBusConnection dead =
        QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/corvane-bus"), name);
    const InstanceClaim claim = claimSingleInstance(lonely, dead, testServiceName());
    EXPECT_EQ(claim.role, InstanceRole::standalone);
    EXPECT_FALSE(claim.message.isEmpty());
    QDBusConnection::disconnectFromBus(name);
}

TEST_F(SingleInstanceTest, SaveClipRepliesWhenTheFileIsCompleteOrWithTheRealReason) {
    std::vector<double> requested;
    std::vector<std::function<void(SaveClipOutcome)>> pending;
    first_.setHandlers({.saveClip = [&](double seconds, std::function<void(SaveClipOutcome)> done) {
        requested.push_back(seconds);
        pending.push_back(std::move(done));
    }});
    claimFirst();

    QDBusPendingCall ok = callFirst(QStringLiteral("SaveClip"), {10.0});
    QDBusPendingCall bad = callFirst(QStringLiteral("SaveClip"), {30.0});
    ASSERT_TRUE(spinUntil([&] { return pending.size() == 2; }));
    EXPECT_EQ(requested, (std::vector<double>{10.0, 30.0}));
    // Nothing is answered before the save finishes.
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_FALSE(ok.isFinished());

    // Completions come from the save's own thread.
    std::thread saver([&] {
        pending[1]({false, "No space left on device"});
        pending[0]({true, "/clips/Clip_2026-12-06_18-00-00_10s.mp4"});
    });
    saver.join();
    ASSERT_TRUE(spinUntil([&] { return ok.isFinished() && bad.isFinished(); }));

    QDBusPendingReply<QString> okReply = ok;
    ASSERT_FALSE(okReply.isError()) << okReply.error().message().toStdString();
    EXPECT_EQ(okReply.value(), QStringLiteral("/clips/Clip_2026-12-06_18-00-00_10s.mp4"));
    QDBusPendingReply<QString> badReply = bad;
    ASSERT_TRUE(badReply.isError());
    EXPECT_EQ(badReply.error().name(), QStringLiteral("org.corvane.Corvane.Error.SaveFailed"));
    EXPECT_EQ(badReply.error().message(), QStringLiteral("No space left on device"));
}

TEST_F(SingleInstanceTest, BadArgumentsAreRefusedWithoutReachingTheProgram) {
    int calls = 0;
    first_.setHandlers({.showWindow = [&](CorvaneTab) { ++calls; },
                        .saveClip = [&](double, std::function<void(SaveClipOutcome)>) { ++calls; }});
    claimFirst();

    std::vector<QDBusPendingCall> replies{
        callFirst(QStringLiteral("ShowWindow"), {QStringLiteral("library")}),
        callFirst(QStringLiteral("SaveClip"), {0.0}),
        callFirst(QStringLiteral("SaveClip"), {-5.0}),
        callFirst(QStringLiteral("SaveClip"), {std::numeric_limits<double>::infinity()}),
    };
    ASSERT_TRUE(spinUntil([&] {
        return std::all_of(replies.begin(), replies.end(), [](auto& r) { return r.isFinished(); });
    }));
    for (auto& r : replies) {
        EXPECT_TRUE(r.isError());
        EXPECT_EQ(r.error().type(), QDBusError::InvalidArgs);
    }
    EXPECT_EQ(calls, 0);
}

TEST_F(SingleInstanceTest, StatusAndReloadGoToTheProgram) {
    int reloads = 0;
    first_.setHandlers({.reloadConfig = [&] { ++reloads; },
                        .getStatus = [] { return ControlStatus{true, 87.5, int64_t{3} << 32, false}; }});
    claimFirst();

    QDBusPendingCall reload = callFirst(QStringLiteral("ReloadConfig"), {});
    QDBusPendingCall status = callFirst(QStringLiteral("GetStatus"), {});
    QDBusPendingCall show = callFirst(QStringLiteral("ShowWindow"), {QStringLiteral("settings")});
    ASSERT_TRUE(spinUntil([&] { return reload.isFinished() && status.isFinished() && show.isFinished(); }));

    EXPECT_FALSE(reload.isError());
    EXPECT_EQ(reloads, 1);
    QDBusPendingReply<QVariantMap> map = status;
    ASSERT_FALSE(map.isError());
    EXPECT_EQ(map.value().value(QStringLiteral("recording")), QVariant(true));
    EXPECT_DOUBLE_EQ(map.value().value(QStringLiteral("buffered_seconds")).toDouble(), 87.5);
    EXPECT_EQ(map.value().value(QStringLiteral("memory_bytes")).toLongLong(), int64_t{3} << 32);
    EXPECT_EQ(map.value().value(QStringLiteral("saving")), QVariant(false));
    // No window handler yet: an error, not a silent success.
    EXPECT_TRUE(show.isError());
}

}  // namespace
}  // namespace corvane
