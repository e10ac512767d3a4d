#pragma once

#include <QDBusConnection>
#include <QObject>

#include <functional>

namespace corvane {

// Screens blanked or locked, and back, from the session's screen saver service
// (org.freedesktop.ScreenSaver ActiveChanged(bool) on the session bus).
//
// Main thread. Without a session bus the watcher stays inactive; without a screen saver service
// the signal never comes. Only edges count: desktops emit the signal on both of the service's
// object paths, and a repeated state is not a new sleep or wake.
class ScreenSaverWatcher final : public QObject {
    Q_OBJECT
public:
    // Listens on the session bus unless given another connection (tests use a private bus).
    explicit ScreenSaverWatcher(QObject* parent = nullptr);
    explicit ScreenSaverWatcher(QDBusConnection bus, QObject* parent = nullptr);
    ~ScreenSaverWatcher() override;

    bool start(std::function<void()> onScreensSleep, std::function<void()> onScreensWake);
    void stop();

private slots:
    void onActiveChanged(bool active);

private:
    QDBusConnection bus_;
    std::function<void()> onSleep_;
    std::function<void()> onWake_;
    bool connected_ = false;
    bool active_ = false;
};

}  // namespace corvane
