#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>

#include <filesystem>
#include <string>

// Event-loop helpers for the library's tests against real back ends (inotify, D-Bus, Qt
// Multimedia). Main thread only.
namespace corvane::test {

// Runs the event loop until `done` holds. The limit only keeps a broken test from hanging (the
// first GStreamer use builds its registry, which takes a while); nothing is judged by time.
template <typename Pred>
bool pumpUntil(Pred done, int limitMs = 20000) {
    QDeadlineTimer deadline(limitMs);
    while (!done() && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

// Lets already-queued events arrive, to show that something did NOT happen.
inline void pumpFor(int ms) {
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// Points XDG_DATA_HOME (and so the trash) at a fresh folder for the object's lifetime.
class ScopedDataHome {
public:
    explicit ScopedDataHome(const std::string& path) : old_(qgetenv("XDG_DATA_HOME")) {
        std::filesystem::create_directories(path);
        qputenv("XDG_DATA_HOME", QByteArray::fromStdString(path));
    }
    ~ScopedDataHome() {
        if (old_.isNull()) qunsetenv("XDG_DATA_HOME");
        else qputenv("XDG_DATA_HOME", old_);
    }
    ScopedDataHome(const ScopedDataHome&) = delete;
    ScopedDataHome& operator=(const ScopedDataHome&) = delete;

private:
    QByteArray old_;
};

}  // namespace corvane::test
