#pragma once

#include <QObject>

#include <functional>
#include <memory>
#include <string>

#include "core/library/ClipFiles.h"

class QSocketNotifier;

namespace corvane {

// Watches one folder's entries with inotify: files created in it, deleted from it, or moved in,
// out or within it, and the folder itself going away. Writes into files are not watched, so a
// clip being written (thousands of writes) causes no events; only its creation does.
//
// Lives on the thread that calls start() (the main thread in the app); events are read there by
// the Qt event loop and the callback runs there, once per event.
class InotifyFolderWatcher final : public QObject, public FolderWatcher {
    Q_OBJECT
public:
    explicit InotifyFolderWatcher(QObject* parent = nullptr);
    ~InotifyFolderWatcher() override;

    bool start(const std::string& folder, std::function<void()> onEntryEvent) override;
    void stop() override;

private:
    void readEvents();

    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::function<void()> onEvent_;
};

}  // namespace corvane
