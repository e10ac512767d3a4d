#include "ui/library/ClipLibrary.h"

#include <QGuiApplication>
#include <QWindow>

#include "ui/library/ClipListModel.h"
#include "ui/library/ClipsView.h"
#include "ui/library/QtPreviewPlayer.h"
#include "ui/window/ClipsPage.h"

namespace corvane {

ClipLibrary::ClipLibrary(Scheduler& scheduler, ClipLibraryParts parts, ClipSavedAnnouncer* announcer,
                         SoundPlayer* sound, QObject* parent)
    : QObject(parent), scheduler_(scheduler) {
    cache_ = std::make_unique<ClipMediaCache>(parts.prober, probeQueue_, scheduler_);
    ClipsViewModelDeps deps{scheduler_, parts.files, *cache_, parts.trimmer, trimQueue_};
    deps.announcer = announcer;
    deps.trash = &parts.trash;
    deps.fileManager = &parts.fileManager;
    deps.watcher = &parts.watcher;
    deps.sound = sound;
    deps.prober = &parts.prober;
    deps.probeWorker = &probeQueue_;
    // Asked for only once the user plays or seeks: until then the preview is a poster.
    deps.playerFactory = [this](const std::string& path) {
        if (!previewEngine_) previewEngine_ = std::make_unique<QtPreviewEngine>();
        return std::make_unique<QtPreviewPlayer>(*previewEngine_, path);
    };
    model_ = std::make_unique<ClipsViewModel>(std::move(deps));
    // No view is shown yet: the view turns the library on when it appears.
    model_->setShown(false);
    listModel_ = std::make_unique<ClipListModel>(*model_);

    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        connect(app, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
            if (state == Qt::ApplicationActive) model_->reloadClips();
        });
        connect(app, &QGuiApplication::focusWindowChanged, this, [this](QWindow* window) {
            if (window) model_->reloadClips();
        });
    }
}

ClipLibrary::~ClipLibrary() {
    delete view_.data();
    probeQueue_.stop(SerialQueue::StopMode::Discard);
    trimQueue_.stop(SerialQueue::StopMode::Discard);
    listModel_.reset();
    model_.reset();
    previewEngine_.reset();  // after the model, which may still hold a preview on it
    cache_.reset();
}

ClipsView* ClipLibrary::createView(QWidget* parent) {
    if (!view_) view_ = new ClipsView(*listModel_, scheduler_, parent);
    return view_;
}

ClipsPage ClipLibrary::page() {
    ClipsPage page;
    page.create = [this](QWidget* parent) -> QWidget* { return createView(parent); };
    page.setOutputDir = [this](QWidget*, const std::string& dir) { setOutputDir(dir); };
    page.reload = [this](QWidget*) { reload(); };
    page.pause = [this](QWidget*) { windowWillClose(); };
    return page;
}

void ClipLibrary::setOutputDir(const std::string& dir) {
    model_->setOutputDir(dir);
    model_->reloadClips();
}

void ClipLibrary::windowWillClose() {
    if (view_) {
        view_->windowWillClose();
    } else {
        model_->windowWillClose();
    }
}

}  // namespace corvane
