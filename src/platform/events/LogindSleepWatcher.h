#pragma once

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QObject>

#include <functional>

namespace corvane {

// System suspend and resume from logind's PrepareForSleep(bool) on the system bus.
//
// Main thread. While started it holds a logind "delay" inhibitor, so the machine waits (up to
// logind's InhibitDelayMaxSec) until releaseDelay() says the pause is done: a save in progress
// can finish before the suspend. Without a system bus the watcher stays inactive; without
// logind the signal simply never comes. Only edges count: a repeated "sleep" or a "wake"
// without a sleep before it is ignored.
class LogindSleepWatcher final : public QObject {
    Q_OBJECT
public:
    // Listens on the system bus unless given another connection (tests use a private bus).
    explicit LogindSleepWatcher(QObject* parent = nullptr);
    explicit LogindSleepWatcher(QDBusConnection bus, QObject* parent = nullptr);
    ~LogindSleepWatcher() override;

    // False when there is no system bus to listen on.
    bool start(std::function<void()> onSleep, std::function<void()> onWake);
    void stop();
    // Lets a pending suspend proceed. Harmless when no delay is held.
    void releaseDelay();
    bool holdsDelay() const { return delayLock_.isValid(); }

private slots:
    void onPrepareForSleep(bool sleeping);

private:
    void takeDelay();

    QDBusConnection bus_;
    std::function<void()> onSleep_;
    std::function<void()> onWake_;
    bool connected_ = false;
    bool asleep_ = false;
    bool takingDelay_ = false;
    QDBusUnixFileDescriptor delayLock_;  // open while the delay inhibitor is held
};

}  // namespace corvane
