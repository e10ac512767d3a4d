#pragma once

#include <QDialog>
#include <QMessageBox>
#include <QPointer>

#include <memory>

#include "core/library/ClipsViewModel.h"
#include "core/library/TrimRange.h"
#include "core/sched/Scheduler.h"

class QAudioOutput;
class QLabel;
class QMediaPlayer;
class QProgressBar;
class QPushButton;
class QToolButton;
class QVideoWidget;

namespace corvane {

class TrimTimelineBar;

// The trim editor: a preview with its own player, transport, the timeline with the kept range,
// and the two ways to store the cut. Keys (no modifiers): Space play/pause, I set start, O set
// end, Left/Right step one second, Escape cancel.
//
// Main thread. The playhead follows the player's position() every 1/30 s on the scheduler (never
// the frames' own time stamps, which some back ends shift by the clip's edit list). Closing the
// dialog in any way cancels a running export: nothing is replaced or added, and its result never
// reaches the dialog.
class TrimClipSheet final : public QDialog {
    Q_OBJECT
public:
    static constexpr Duration kPositionInterval = std::chrono::nanoseconds(1'000'000'000 / 30);

    TrimClipSheet(ClipItem clip, ClipsViewModel& model, Scheduler& scheduler, QWidget* parent = nullptr);
    ~TrimClipSheet() override;

    // The dialog's operations.
    void setupPlayer();
    void teardownPlayer();
    void togglePlayPause();
    void setStartToCurrent();
    void setEndToCurrent();
    void stepBy(double seconds);
    void jumpToStart();
    void jumpToEnd();
    void executeTrim(bool saveAsNew);
    // The main window closes or minimises: release the preview (it comes back when shown again).
    void windowWillClose() { teardownPlayer(); }

    const TrimRange& range() const { return range_; }
    bool isExporting() const { return isExporting_; }
    bool isDurationKnown() const { return durationKnown_; }
    bool isPlaying() const { return isPlaying_; }
    QMediaPlayer* player() const { return player_.get(); }
    QString errorMessage() const;
    QString timeText() const;
    QString durationBadgeText() const;
    QPushButton* saveAsNewButton() const { return saveAsNew_; }
    QPushButton* replaceButton() const { return replace_; }
    QPushButton* cancelButton() const { return cancel_; }
    QMessageBox* replaceConfirmation() const { return confirm_; }
    TrimTimelineBar* timeline() const { return timeline_; }

public slots:
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void seek(double seconds);
    void onTick();
    void refresh();
    void showReplaceConfirmation();
    void exportFinished(std::optional<std::string> path, const ClipError& error);
    void durationArrived(double seconds);

    ClipItem clip_;
    ClipsViewModel& model_;
    Scheduler& scheduler_;
    TrimRange range_;
    bool isPlaying_ = false;
    bool isExporting_ = false;
    bool durationKnown_ = false;  // until then the range is a placeholder and nothing is saved
    std::unique_ptr<QAudioOutput> audio_;
    std::unique_ptr<QMediaPlayer> player_;
    ScheduledTask positionTick_;
    std::shared_ptr<TrimJob> job_;

    QVideoWidget* video_;
    QToolButton* playButton_;
    QLabel* timeLabel_;
    TrimTimelineBar* timeline_;
    QLabel* startLabel_;
    QLabel* endLabel_;
    QLabel* badge_;
    QLabel* error_;
    QPushButton* cancel_;
    QPushButton* replace_;
    QPushButton* saveAsNew_;
    QProgressBar* progress_;
    QLabel* exportingLabel_;
    QPointer<QMessageBox> confirm_;
};

}  // namespace corvane
