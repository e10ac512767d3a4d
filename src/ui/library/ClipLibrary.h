#pragma once

#include <QObject>
#include <QPointer>

#include "ui/library/QtPreviewPlayer.h"

#include <memory>
#include <string>

#include "core/library/ClipFiles.h"
#include "core/library/ClipMedia.h"
#include "core/library/ClipMediaCache.h"
#include "core/library/ClipsViewModel.h"
#include "core/sched/SerialQueue.h"
#include "ui/library/ClipsView.h"

class QWidget;

namespace corvane {

class ClipListModel;
struct ClipsPage;

// The clip library's parts from below the UI, made by the program (src/app) and handed in as
// core interfaces. Each must outlive the library. The prober runs on the "library-probe" worker,
// the trimmer on "library-trim"; every other part is called on the main thread.
struct ClipLibraryParts {
    ClipFiles& files;
    ClipTrash& trash;
    FileManagerActions& fileManager;
    FolderWatcher& watcher;
    ClipProber& prober;
    ClipTrimmer& trimmer;
};

// Owns the clip library: the model (ClipsViewModel) over the parts it is handed, the media cache
// and its probe worker, the trim worker, the Qt Multimedia preview and the Qt list model.
// Creates the clips tab's view.
//
// Create, use and destroy on the main thread, after the QApplication and the scheduler and
// before they go. Destruction stops both workers first (a running probe or cut finishes), so
// nothing runs against a destroyed part. The model reloads when the application becomes active
// or any of its windows gets focus, as the desktop's own file views do.
class ClipLibrary final : public QObject {
    Q_OBJECT
public:
    ClipLibrary(Scheduler& scheduler, ClipLibraryParts parts, ClipSavedAnnouncer* announcer, SoundPlayer* sound,
                QObject* parent = nullptr);
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
    // Whether the media pipeline of the preview was built (tests: not before the first play).
    bool hasPreviewEngine() const { return previewEngine_ != nullptr; }
    ClipListModel& listModel() { return *listModel_; }

private:
    Scheduler& scheduler_;
    SerialQueue probeQueue_{"library-probe"};
    SerialQueue trimQueue_{"library-trim"};
    // Made when the user first plays or seeks, kept until the model that uses it is gone.
    std::unique_ptr<QtPreviewEngine> previewEngine_;
    std::unique_ptr<ClipMediaCache> cache_;
    std::unique_ptr<ClipsViewModel> model_;
    std::unique_ptr<ClipListModel> listModel_;
    QPointer<ClipsView> view_;
};

}  // namespace corvane
