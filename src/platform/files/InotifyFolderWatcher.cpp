#include "platform/files/InotifyFolderWatcher.h"

#include <QSocketNotifier>

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>

namespace corvane {

InotifyFolderWatcher::InotifyFolderWatcher(QObject* parent) : QObject(parent) {}

InotifyFolderWatcher::~InotifyFolderWatcher() { stop(); }

bool InotifyFolderWatcher::start(const std::string& folder, std::function<void()> onEntryEvent) {
    stop();
    const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0) return false;
    constexpr uint32_t kMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF |
                               IN_MOVE_SELF | IN_ONLYDIR;
    if (::inotify_add_watch(fd, folder.c_str(), kMask) < 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    onEvent_ = std::move(onEntryEvent);
    notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { readEvents(); });
    return true;
}

void InotifyFolderWatcher::stop() {
    notifier_.reset();
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    onEvent_ = nullptr;
}

void InotifyFolderWatcher::readEvents() {
    alignas(inotify_event) char buf[16 * 1024];
    int events = 0;
    for (;;) {
        const ssize_t n = ::read(fd_, buf, sizeof buf);
        if (n <= 0) break;  // EAGAIN: drained
        for (ssize_t off = 0; off < n;) {
            const auto* ev = reinterpret_cast<const inotify_event*>(buf + off);
            off += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
            if (ev->mask & IN_IGNORED) continue;  // the watch ended (folder gone); no entry change
            ++events;
        }
    }
    // The callback may stop or restart the watch, so take a copy first.
    auto callback = onEvent_;
    for (int i = 0; i < events && callback; ++i) callback();
}

}  // namespace corvane
