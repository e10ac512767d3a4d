#include "app/QuitSignals.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>

#include "core/log/Log.h"

namespace corvane {
namespace {

int gPipe[2] = {-1, -1};  // [0] read end (main thread), [1] write end (signal handlers)

void onQuitSignal(int signal) {
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signal);
    // A full pipe already holds a pending quit; losing this byte changes nothing.
    [[maybe_unused]] ssize_t n = ::write(gPipe[1], &byte, 1);
    errno = savedErrno;
}

}  // namespace

bool QuitSignalWatcher::installHandlers() {
    std::signal(SIGPIPE, SIG_IGN);
    if (gPipe[0] < 0 && ::pipe2(gPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        logLine(std::string("Cannot watch for quit signals: ") + std::strerror(errno));
        gPipe[0] = gPipe[1] = -1;
        return false;
    }
    struct sigaction action {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGHUP, &action, nullptr);  // reload the configuration, as daemons do
    return true;
}

QuitSignalWatcher::QuitSignalWatcher(std::function<void(int)> onSignal, QObject* parent)
    : QObject(parent), onSignal_(std::move(onSignal)) {
    if (gPipe[0] < 0) return;
    notifier_ = std::make_unique<QSocketNotifier>(gPipe[0], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { drain(); });
}

QuitSignalWatcher::~QuitSignalWatcher() = default;

void QuitSignalWatcher::drain() {
    unsigned char bytes[16];
    while (true) {
        ssize_t n = ::read(gPipe[0], bytes, sizeof bytes);
        if (n > 0) {
            for (ssize_t i = 0; i < n; ++i) {
                if (onSignal_) onSignal_(bytes[i]);
            }
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        return;  // empty (EAGAIN) or closed
    }
}

}  // namespace corvane
