#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QThread>

#include <chrono>
#include <functional>

namespace corvane::test {

// Serves the Qt event loop until `done` holds or `timeoutMs` passes. For tests that talk to a
// real bus or X server, whose answers come back through the event loop.
inline bool waitUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

inline bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    return waitUntil(done, static_cast<int>(timeout.count()));
}

// Serves the event loop for a while, for checks that something does NOT happen.
inline void serveEvents(int ms) { waitUntil([] { return false; }, ms); }

}  // namespace corvane::test
