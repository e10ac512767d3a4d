#pragma once

#include <QIcon>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include "core/library/ClipsViewModel.h"
#include "core/sched/Scheduler.h"
#include "ui/library/RenameClipSheet.h"
#include "ui/library/TrimClipSheet.h"

class QLabel;
class QLineEdit;
class QListView;
class QStackedWidget;
class QToolButton;
class QVideoWidget;

namespace corvane {

class ClipListModel;
class PosterView;
class SeekSlider;

// The clips tab: the searchable list of clips on the left; on the right the preview with the
// selected clip's details and commands, or a placeholder. The preview shows the clip's poster
// until the model has a player; the video output is made only then (it brings up the graphics
// stack). Opens the rename dialog, the trim
// editor and the trash confirmation. A thin view: all work goes through the ClipsViewModel
// behind `list`. Main thread; `list` and `scheduler` outlive it.
class ClipsView final : public QWidget {
    Q_OBJECT
public:
    ClipsView(ClipListModel& list, Scheduler& scheduler, QWidget* parent = nullptr);
    ~ClipsView() override;

    // The main window closes or is minimised: pause the preview, release the trim preview.
    void windowWillClose();

    void showRename(const ClipItem& clip);
    void showTrim(const ClipItem& clip);
    void confirmDelete(const ClipItem& clip);
    // The file itself on the clipboard, as a file manager copies it.
    void copyClip(const ClipItem& clip);
    // In the desktop's default player for its type.
    void openClip(const ClipItem& clip);
    void togglePlayback();

    // For tests and the window's accessibility: the parts whose text the user reads.
    QLineEdit* searchField() const { return search_; }
    QToolButton* clearSearchButton() const { return clearSearch_; }
    QLabel* countLabel() const { return count_; }
    QLabel* totalSizeLabel() const { return totalSize_; }
    QListView* listView() const { return listView_; }
    bool isEmptyStateShown() const;
    bool isPreviewShown() const;
    QLabel* titleLabel() const { return title_; }
    QLabel* detailsLabel() const { return details_; }
    QLabel* storageLabel() const { return storage_; }
    QToolButton* playPauseButton() const { return playPause_; }
    SeekSlider* seekBar() const { return seekBar_; }
    QLabel* positionLabel() const { return position_; }
    PosterView* posterView() const { return poster_; }
    QLabel* emptyTitleLabel() const { return emptyTitle_; }
    RenameClipSheet* renameSheet() const { return rename_; }
    TrimClipSheet* trimSheet() const { return trim_; }
    QMessageBox* deleteAlert() const { return deleteAlert_; }
    // Shown when a confirmed move to the trash failed: why, and that the clip is still there.
    QMessageBox* trashFailureAlert() const { return trashFailureAlert_; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    // The preview player exists only while this view is shown (see setShown).
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QWidget* buildLeftPane();
    QWidget* buildRightPane();
    void onChanged(unsigned changes);
    void refreshHeader();
    void refreshDetails();
    void syncListSelection();
    void attachPlayer();
    void showPosterControls();
    void installKeys();
    void showPlaying(bool playing);
    std::optional<ClipItem> clipAtRow(int row) const;
    void showTrashFailure(const ClipItem& clip, const std::string& reason);

    ClipListModel& list_;
    ClipsViewModel& model_;
    Scheduler& scheduler_;
    QLineEdit* search_ = nullptr;
    QToolButton* clearSearch_ = nullptr;
    QLabel* count_ = nullptr;
    QLabel* totalSize_ = nullptr;
    QStackedWidget* leftStack_ = nullptr;
    QListView* listView_ = nullptr;
    QStackedWidget* rightStack_ = nullptr;
    QStackedWidget* screen_ = nullptr;  // the poster, or the video once there is a player
    PosterView* poster_ = nullptr;
    QVideoWidget* video_ = nullptr;     // made for the first player
    QToolButton* playPause_ = nullptr;
    // Drawn once: the button is set again at every selection (so every save), and Qt's pixmap
    // cache keeps the scaled picture of each icon it is given.
    QIcon playIcon_, pauseIcon_;
    SeekSlider* seekBar_ = nullptr;
    QLabel* emptyTitle_ = nullptr;
    QLabel* emptyText_ = nullptr;
    QLabel* position_ = nullptr;
    QList<QMetaObject::Connection> playerConnections_;
    QLabel* title_ = nullptr;
    QLabel* details_ = nullptr;
    QLabel* storage_ = nullptr;
    QPointer<RenameClipSheet> rename_;
    QPointer<TrimClipSheet> trim_;
    QPointer<QMessageBox> deleteAlert_;
    QPointer<QMessageBox> trashFailureAlert_;
    std::optional<ClipItem> clipToDelete_;
    bool syncingSelection_ = false;
};

}  // namespace corvane
