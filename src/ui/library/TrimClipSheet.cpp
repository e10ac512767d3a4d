#include "ui/library/TrimClipSheet.h"

#include <QAudioOutput>
#include <QFontDatabase>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMediaPlayer>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QKeyEvent>
#include <QStyle>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <QVideoWidget>

#include <algorithm>
#include <cmath>

#include "core/library/ClipTexts.h"
#include "ui/library/PlainText.h"
#include "ui/library/TrimTimelineBar.h"

namespace corvane {

namespace {

QToolButton* transportButton(QStyle::StandardPixmap icon, const QString& tip, QWidget* parent) {
    auto* b = new QToolButton(parent);
    b->setIcon(parent->style()->standardIcon(icon));
    b->setToolTip(tip);
    b->setAutoRaise(true);
    b->setFocusPolicy(Qt::NoFocus);
    return b;
}

QFont captionFont(const QWidget* w, bool bold = false) {
    QFont f = w->font();
    f.setPointSizeF(f.pointSizeF() * 0.85);
    f.setBold(bold);
    return f;
}

}  // namespace

TrimClipSheet::TrimClipSheet(ClipItem clip, ClipsViewModel& model, Scheduler& scheduler, QWidget* parent)
    : QDialog(parent), clip_(std::move(clip)), model_(model), scheduler_(scheduler), range_(clip_.durationSeconds) {
    setWindowTitle(tr("Trim Clip"));
    setFixedWidth(720);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 20);
    layout->setSpacing(14);

    // Header.
    auto* header = new QHBoxLayout;
    auto* titles = new QVBoxLayout;
    auto* title = new QLabel(tr("Trim Clip"));
    QFont headline = title->font();
    headline.setBold(true);
    title->setFont(headline);
    auto* name = new QLabel(QString::fromStdString(clip_.name));
    name->setTextFormat(Qt::PlainText);
    name->setForegroundRole(QPalette::PlaceholderText);
    titles->addWidget(title);
    titles->addWidget(name);
    header->addLayout(titles, 1);
    auto* close = transportButton(QStyle::SP_TitleBarCloseButton, tr("Close"), this);
    connect(close, &QToolButton::clicked, this, &TrimClipSheet::reject);
    header->addWidget(close, 0, Qt::AlignTop);
    layout->addLayout(header);

    // Preview.
    video_ = new QVideoWidget;
    video_->setFixedHeight(280);
    video_->setFocusPolicy(Qt::NoFocus);
    setFocusPolicy(Qt::StrongFocus);
    {
        QPalette black = video_->palette();
        black.setColor(QPalette::Window, Qt::black);
        video_->setPalette(black);
        video_->setAutoFillBackground(true);
    }
    layout->addWidget(video_);

    // Transport.
    auto* transport = new QHBoxLayout;
    transport->setSpacing(16);
    auto* toStart = transportButton(QStyle::SP_MediaSkipBackward, tr("Jump to Start"), this);
    auto* back = transportButton(QStyle::SP_MediaSeekBackward, tr("Step back 1 second"), this);
    playButton_ = transportButton(QStyle::SP_MediaPlay, tr("Play / Pause (Space)"), this);
    auto* forward = transportButton(QStyle::SP_MediaSeekForward, tr("Step forward 1 second"), this);
    auto* toEnd = transportButton(QStyle::SP_MediaSkipForward, tr("Jump to End"), this);
    connect(toStart, &QToolButton::clicked, this, &TrimClipSheet::jumpToStart);
    connect(back, &QToolButton::clicked, this, [this] { stepBy(-1); });
    connect(playButton_, &QToolButton::clicked, this, &TrimClipSheet::togglePlayPause);
    connect(forward, &QToolButton::clicked, this, [this] { stepBy(1); });
    connect(toEnd, &QToolButton::clicked, this, &TrimClipSheet::jumpToEnd);
    for (QToolButton* b : {toStart, back, playButton_, forward, toEnd}) transport->addWidget(b);
    timeLabel_ = new QLabel;
    timeLabel_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    timeLabel_->setForegroundRole(QPalette::PlaceholderText);
    transport->addWidget(timeLabel_);
    transport->addStretch(1);
    layout->addLayout(transport);

    // Timeline box.
    auto* box = new QFrame;
    box->setFrameShape(QFrame::StyledPanel);
    box->setAutoFillBackground(true);
    auto* boxLayout = new QVBoxLayout(box);
    boxLayout->setContentsMargins(10, 10, 10, 10);
    boxLayout->setSpacing(8);
    timeline_ = new TrimTimelineBar(range_, [this](double t) {
        seek(t);
        refresh();
    });
    boxLayout->addWidget(timeline_);
    auto* rangeRow = new QHBoxLayout;
    rangeRow->setSpacing(6);
    auto* setStart = new QPushButton(tr("Set Start"));
    setStart->setToolTip(tr("Set start of trimmed clip to current position (I)"));
    auto* setEnd = new QPushButton(tr("Set End"));
    setEnd->setToolTip(tr("Set end of trimmed clip to current position (O)"));
    for (QPushButton* b : {setStart, setEnd}) {
        b->setFont(captionFont(this));
        b->setFocusPolicy(Qt::NoFocus);
    }
    connect(setStart, &QPushButton::clicked, this, &TrimClipSheet::setStartToCurrent);
    connect(setEnd, &QPushButton::clicked, this, &TrimClipSheet::setEndToCurrent);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSizeF(captionFont(this).pointSizeF());
    mono.setWeight(QFont::Medium);
    startLabel_ = new QLabel;
    endLabel_ = new QLabel;
    for (QLabel* l : {startLabel_, endLabel_}) {
        l->setFont(mono);
        l->setForegroundRole(QPalette::PlaceholderText);
    }
    badge_ = new QLabel;
    badge_->setFont(captionFont(this, true));
    badge_->setStyleSheet(QStringLiteral("background: rgba(48, 140, 198, 38); border-radius: 4px; padding: 2px 6px;"));
    rangeRow->addWidget(setStart);
    rangeRow->addWidget(startLabel_);
    rangeRow->addStretch(1);
    rangeRow->addWidget(badge_);
    rangeRow->addStretch(1);
    rangeRow->addWidget(endLabel_);
    rangeRow->addWidget(setEnd);
    boxLayout->addLayout(rangeRow);
    layout->addWidget(box);

    error_ = new QLabel;
    error_->setTextFormat(Qt::PlainText);
    error_->setWordWrap(true);
    error_->setFont(captionFont(this));
    error_->setStyleSheet(QStringLiteral("color: red;"));
    error_->hide();
    layout->addWidget(error_);

    auto* divider = new QFrame;
    divider->setFrameShape(QFrame::HLine);
    layout->addWidget(divider);

    auto* bottom = new QHBoxLayout;
    cancel_ = new QPushButton(tr("Cancel"));
    connect(cancel_, &QPushButton::clicked, this, &TrimClipSheet::reject);
    bottom->addWidget(cancel_);
    bottom->addStretch(1);
    replace_ = new QPushButton(tr("Replace Original"));
    replace_->setIcon(style()->standardIcon(QStyle::SP_BrowserReload));
    replace_->setToolTip(tr("Trim and replace the original clip file"));
    connect(replace_, &QPushButton::clicked, this, &TrimClipSheet::showReplaceConfirmation);
    saveAsNew_ = new QPushButton(tr("Save as New Clip"));
    saveAsNew_->setIcon(style()->standardIcon(QStyle::SP_FileDialogNewFolder));
    saveAsNew_->setToolTip(tr("Save trimmed video as a new file, keeping original intact"));
    connect(saveAsNew_, &QPushButton::clicked, this, [this] { executeTrim(true); });
    progress_ = new QProgressBar;
    progress_->setRange(0, 0);
    progress_->setMaximumWidth(80);
    progress_->setTextVisible(false);
    exportingLabel_ = new QLabel(tr("Exporting trimmed clip..."));
    exportingLabel_->setForegroundRole(QPalette::PlaceholderText);
    for (QPushButton* b : {cancel_, replace_, saveAsNew_}) b->setFocusPolicy(Qt::NoFocus);
    bottom->addWidget(replace_);
    bottom->addWidget(saveAsNew_);
    bottom->addWidget(progress_);
    bottom->addWidget(exportingLabel_);
    layout->addLayout(bottom);

    setupPlayer();
    // A clip opened before the library's probe reached it is measured on the probe worker; the
    // range and the save buttons wait for the answer.
    durationKnown_ = clip_.durationSeconds > 0;
    if (!durationKnown_) {
        QPointer<TrimClipSheet> self(this);
        model_.fetchDuration(clip_, [self](double seconds) {
            if (self) self->durationArrived(seconds);
        });
    }
    refresh();
}

void TrimClipSheet::durationArrived(double seconds) {
    durationKnown_ = true;
    const double t = range_.current();
    range_ = TrimRange(seconds);
    range_.setCurrent(std::min(t, range_.duration()));
    refresh();
}

TrimClipSheet::~TrimClipSheet() {
    if (job_) job_->cancel();
    teardownPlayer();
}

void TrimClipSheet::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Coming back after the main window closed: the preview was released, the range is kept.
    if (!player_) {
        const double t = range_.current();
        setupPlayer();
        range_.setCurrent(t);
        seek(t);
        refresh();
    }
}

void TrimClipSheet::keyPressEvent(QKeyEvent* event) {
    // The controls take no focus, so the dialog receives every key; Escape goes on to reject().
    if (event->modifiers() & ~Qt::KeypadModifier) return QDialog::keyPressEvent(event);
    switch (event->key()) {
    case Qt::Key_Space: togglePlayPause(); break;
    case Qt::Key_I: setStartToCurrent(); break;
    case Qt::Key_O: setEndToCurrent(); break;
    case Qt::Key_Left: stepBy(-1); break;
    case Qt::Key_Right: stepBy(1); break;
    default: return QDialog::keyPressEvent(event);
    }
    event->accept();
}

void TrimClipSheet::setupPlayer() {
    teardownPlayer();
    audio_ = std::make_unique<QAudioOutput>();
    player_ = std::make_unique<QMediaPlayer>();
    player_->setAudioOutput(audio_.get());
    player_->setVideoOutput(video_);
    player_->setSource(QUrl::fromLocalFile(QString::fromStdString(clip_.path)));
    positionTick_.startRepeating(scheduler_, kPositionInterval, [this] { onTick(); });
}

void TrimClipSheet::teardownPlayer() {
    positionTick_.cancel();
    if (player_) {
        player_->pause();
        player_->setVideoOutput(nullptr);
        player_.reset();
    }
    audio_.reset();
    isPlaying_ = false;
}

void TrimClipSheet::onTick() {
    if (!player_) return;
    const double t = static_cast<double>(player_->position()) / 1000.0;
    const bool playing = player_->playbackState() == QMediaPlayer::PlayingState;
    if (range_.playerAt(t, playing)) {
        player_->pause();
        isPlaying_ = false;
        seek(range_.start());
    } else {
        isPlaying_ = playing;
    }
    refresh();
}

void TrimClipSheet::seek(double seconds) {
    if (player_ && std::isfinite(seconds))
        player_->setPosition(static_cast<qint64>(std::llround(std::max(seconds, 0.0) * 1000.0)));
}

void TrimClipSheet::togglePlayPause() {
    if (!player_) return;
    if (isPlaying_ || player_->playbackState() == QMediaPlayer::PlayingState) {
        player_->pause();
        isPlaying_ = false;
    } else {
        const double to = range_.prepareToPlay();
        if (to >= 0) seek(to);
        player_->play();
        isPlaying_ = true;
    }
    refresh();
}

void TrimClipSheet::setStartToCurrent() {
    const double to = range_.setStartToCurrent();
    if (to >= 0) seek(to);
    refresh();
}

void TrimClipSheet::setEndToCurrent() {
    const double to = range_.setEndToCurrent();
    if (to >= 0) seek(to);
    refresh();
}

void TrimClipSheet::stepBy(double seconds) {
    seek(range_.step(seconds));
    refresh();
}

void TrimClipSheet::jumpToStart() {
    seek(range_.jumpToStart());
    refresh();
}

void TrimClipSheet::jumpToEnd() {
    seek(range_.jumpToEnd());
    refresh();
}

void TrimClipSheet::showReplaceConfirmation() {
    if (isExporting_) return;
    auto* box = new QMessageBox(this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(tr("Replace Original Clip?"));
    // Rich text only for the layout: the file name inside is escaped, so it shows as written.
    box->setTextFormat(Qt::RichText);
    box->setText(alertHtml(tr("Replace Original Clip?"), QStringLiteral("This will overwrite '") + QString::fromStdString(clip_.name) +
                            QStringLiteral("' with the trimmed version. This action cannot be undone.")));
    // Enter keeps the original: overwriting it needs a deliberate click.
    box->setDefaultButton(box->addButton(tr("Cancel"), QMessageBox::RejectRole));
    QPushButton* replace = box->addButton(tr("Replace Original"), QMessageBox::DestructiveRole);
    connect(box, &QMessageBox::buttonClicked, this, [this, replace](QAbstractButton* clicked) {
        if (clicked == replace) executeTrim(false);
    });
    confirm_ = box;
    box->open();
}

void TrimClipSheet::executeTrim(bool saveAsNew) {
    if (isExporting_ || !durationKnown_) return;
    isExporting_ = true;
    error_->hide();
    if (player_) player_->pause();
    isPlaying_ = false;
    refresh();
    QPointer<TrimClipSheet> self(this);
    job_ = model_.trimClip(clip_, range_.start(), range_.end(), saveAsNew,
                           [self](std::optional<std::string> path, ClipError error) {
                               if (self) self->exportFinished(std::move(path), error);
                           });
}

void TrimClipSheet::exportFinished(std::optional<std::string> path, const ClipError& error) {
    isExporting_ = false;
    job_.reset();
    if (path) {
        teardownPlayer();
        accept();
        return;
    }
    error_->setText(QString::fromStdString(error.message));
    error_->show();
    refresh();
}

void TrimClipSheet::reject() {
    // Cancel, Escape, the close button and closing the window all end here.
    if (job_) {
        job_->cancel();
        job_.reset();
    }
    isExporting_ = false;
    teardownPlayer();
    QDialog::reject();
}

QString TrimClipSheet::errorMessage() const { return error_->isHidden() ? QString() : error_->text(); }

QString TrimClipSheet::timeText() const {
    return QString::fromStdString(formatTrimTime(range_.current()) + " / " + formatTrimTime(range_.duration()));
}

QString TrimClipSheet::durationBadgeText() const {
    return QStringLiteral("Duration: %1s").arg(range_.keptLength(), 0, 'f', 1);
}

void TrimClipSheet::refresh() {
    playButton_->setIcon(style()->standardIcon(isPlaying_ ? QStyle::SP_MediaPause : QStyle::SP_MediaPlay));
    timeLabel_->setText(timeText());
    startLabel_->setText(QStringLiteral("Start: ") + QString::fromStdString(formatTrimTime(range_.start())));
    endLabel_->setText(QStringLiteral("End: ") + QString::fromStdString(formatTrimTime(range_.end())));
    badge_->setText(durationBadgeText());
    replace_->setVisible(!isExporting_);
    saveAsNew_->setVisible(!isExporting_);
    replace_->setEnabled(durationKnown_);
    saveAsNew_->setEnabled(durationKnown_);
    timeline_->setEnabled(durationKnown_);
    progress_->setVisible(isExporting_);
    exportingLabel_->setVisible(isExporting_);
    timeline_->update();
}

}  // namespace corvane
