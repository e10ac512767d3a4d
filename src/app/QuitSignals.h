#pragma once

#include <QObject>

#include <functional>
#include <memory>

class QSocketNotifier;

namespace corvane {

// Routes SIGINT, SIGTERM and SIGHUP to the main thread. The handlers only write the signal number to a
// self-pipe (async-signal-safe); a QSocketNotifier on the other end calls `onSignal` from the
// event loop. Also ignores SIGPIPE, so that a closed pipe on standard output cannot kill the
// process in the middle of a save.
class QuitSignalWatcher final : public QObject {
    Q_OBJECT

public:
    // Installs the handlers. Call once, first thing in a normal start: a signal that arrives
    // before the event loop runs waits in the pipe. Returns false (and prints one line) when the
    // pipe cannot be made; the default handlers then stay.
    static bool installHandlers();

    // Main thread, after the Qt application exists.
    explicit QuitSignalWatcher(std::function<void(int signal)> onSignal, QObject* parent = nullptr);
    ~QuitSignalWatcher() override;

private:
    void drain();

    std::function<void(int)> onSignal_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace corvane
