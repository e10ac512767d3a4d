#pragma once

#include <QObject>
#include <QPointer>

#include <memory>
#include <string>

#include "core/library/ClipMediaCache.h"
#include "core/library/ClipsViewModel.h"
#include "core/library/LocalClipFiles.h"
#include "core/sched/SerialQueue.h"
#include "media/probe/FfmpegClipProber.h"
#include "media/trim/FfmpegClipTrimmer.h"
#include "platform/files/FreedesktopTrash.h"
#include "platform/files/InotifyFolderWatcher.h"
#include "ui/library/ClipsView.h"
#include "ui/library/DesktopFileManager.h"

class QWidget;

namespace corvane {

class ClipListModel;
struct ClipsPage;

// Owns the clip library with its real parts: the model (ClipsViewModel) on the local file
// system, the inotify folder watch, the freedesktop trash, the file manager, the FFmpeg probe
// (on the "library-probe" worker) and trimmer (on the "library-trim" worker), and the Qt list
// model. Creates the clips tab's view.
//
// Create, use and destroy on the main thread, after the QApplication and the scheduler and
// before they go. Destruction stops both workers first (a running probe or cut finishes), so
// nothing runs against a destroyed part. The model reloads when the application becomes active
// or any of its windows gets focus, as the desktop's own file views do.
class ClipLibrary final : public QObject {
    Q_OBJECT
public:
    ClipLibrary(Scheduler& scheduler, ClipSavedAnnouncer* announcer, SoundPlayer* sound, QObject* parent = nullptr);
    ~ClipLibrary() override;

    // The clips tab (one per library). Owned by `parent` (Qt parent).
    ClipsView* createView(QWidget* parent);
    ClipsView* view() const { return view_; }
    // Hooks for the main window: create/setOutputDir/reload/pause.
    ClipsPage page();

    // The clips folder ("~" allowed): restarts the watch and re-lists.
    void setOutputDir(const std::string& dir);
    void reload() { model_->reloadClips(); }
    // The main window closes or minimises (or leaves the tab): pause previews.
    void windowWillClose();

    ClipsViewModel& model() { return *model_; }
    ClipListModel& listModel() { return *listModel_; }

private:
    Scheduler& scheduler_;
    SerialQueue probeQueue_{"library-probe"};
    SerialQueue trimQueue_{"library-trim"};
    LocalClipFiles files_;
    FreedesktopTrash trash_;
    DesktopFileManager fileManager_;
    InotifyFolderWatcher watcher_;
    FfmpegClipProber prober_;
    FfmpegClipTrimmer trimmer_;
    std::unique_ptr<ClipMediaCache> cache_;
    std::unique_ptr<ClipsViewModel> model_;
    std::unique_ptr<ClipListModel> listModel_;
    QPointer<ClipsView> view_;
};

}  // namespace corvane
