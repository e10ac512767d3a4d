#include "ui/library/ClipsView.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QPainter>
#include <QShortcut>
#include <QVideoFrame>
#include <QVideoSink>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMediaPlayer>
#include <QMenu>
#include <QPushButton>
#include <QSplitter>
#include <QStackedWidget>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>
#include <QVideoWidget>

#include <algorithm>
#include <climits>
#include <utility>

#include "core/library/ClipTexts.h"
#include "ui/library/ClipListModel.h"
#include "ui/library/ClipMimeData.h"
#include "ui/library/ClipRowDelegate.h"
#include "ui/library/PlainText.h"
#include "ui/library/PosterView.h"
#include "ui/library/QtPreviewPlayer.h"
#include "ui/library/RenameClipSheet.h"
#include "ui/library/SeekSlider.h"
#include "ui/library/TrimClipSheet.h"

namespace corvane {

namespace {

QFont scaled(const QWidget* w, double factor, bool bold = false) {
    QFont f = w->font();
    f.setPointSizeF(f.pointSizeF() * factor);
    f.setBold(bold);
    return f;
}

QLabel* secondaryLabel(const QString& text, QFont font) {
    auto* l = new QLabel(text);
    l->setTextFormat(Qt::PlainText);
    l->setFont(font);
    l->setForegroundRole(QPalette::PlaceholderText);
    return l;
}

QToolButton* iconButton(const QString& themeIcon, QStyle::StandardPixmap fallback, const QString& tip, QWidget* parent) {
    auto* b = new QToolButton(parent);
    b->setIcon(QIcon::fromTheme(themeIcon, parent->style()->standardIcon(fallback)));
    b->setToolTip(tip);
    b->setAutoRaise(true);
    return b;
}

// A white play or pause sign: the theme's media icons are dark and all but vanish on the
// player's black bar.
QIcon playbackIcon(bool playing) {
    QPixmap pixmap(48, 48);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    if (playing) {
        p.drawRoundedRect(QRectF(11, 8, 9, 32), 2, 2);
        p.drawRoundedRect(QRectF(28, 8, 9, 32), 2, 2);
    } else {
        p.drawPolygon(QPolygonF({QPointF(12, 6), QPointF(42, 24), QPointF(12, 42)}));
    }
    return QIcon(pixmap);
}

QFrame* divider() {
    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

}  // namespace

ClipsView::ClipsView(ClipListModel& list, Scheduler& scheduler, QWidget* parent)
    : QWidget(parent), list_(list), model_(list.clipsModel()), scheduler_(scheduler) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* split = new QSplitter(Qt::Horizontal);
    split->setChildrenCollapsible(false);
    split->addWidget(buildLeftPane());
    split->addWidget(buildRightPane());
    split->setStretchFactor(0, 0);
    split->setStretchFactor(1, 1);
    split->setSizes({300, 660});
    layout->addWidget(split);

    installKeys();
    connect(&list_, &ClipListModel::changed, this, &ClipsView::onChanged);
    onChanged(ClipsViewModel::ClipsChanged | ClipsViewModel::SelectionChanged | ClipsViewModel::PlayerChanged |
              ClipsViewModel::TotalSizeChanged | ClipsViewModel::PosterChanged);
}

ClipsView::~ClipsView() {
    if (trim_) delete trim_.data();
}

QWidget* ClipsView::buildLeftPane() {
    auto* pane = new QWidget;
    pane->setMinimumWidth(260);
    pane->setMaximumWidth(380);
    auto* v = new QVBoxLayout(pane);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(0);

    // Search row.
    auto* searchRow = new QWidget;
    searchRow->setAutoFillBackground(true);
    searchRow->setBackgroundRole(QPalette::Button);
    auto* sh = new QHBoxLayout(searchRow);
    sh->setContentsMargins(10, 10, 10, 10);
    auto* glass = new QLabel;
    glass->setPixmap(QIcon::fromTheme(QStringLiteral("edit-find"), style()->standardIcon(QStyle::SP_FileDialogContentsView)).pixmap(14, 14));
    sh->addWidget(glass);
    search_ = new QLineEdit;
    search_->setPlaceholderText(tr("Search clips..."));
    search_->setFrame(false);
    sh->addWidget(search_, 1);
    clearSearch_ = iconButton(QStringLiteral("edit-clear"), QStyle::SP_LineEditClearButton, QString(), this);
    clearSearch_->hide();
    sh->addWidget(clearSearch_);
    auto* refresh = iconButton(QStringLiteral("view-refresh"), QStyle::SP_BrowserReload, tr("Refresh clips list"), this);
    sh->addWidget(refresh);
    connect(search_, &QLineEdit::textChanged, this, [this](const QString& text) {
        clearSearch_->setVisible(!text.isEmpty());
        model_.setSearchText(text.toStdString());
    });
    connect(clearSearch_, &QToolButton::clicked, search_, &QLineEdit::clear);
    connect(refresh, &QToolButton::clicked, this, [this] { model_.reloadClips(); });
    v->addWidget(searchRow);
    v->addWidget(divider());

    // Header row.
    auto* headerRow = new QWidget;
    headerRow->setAutoFillBackground(true);
    headerRow->setBackgroundRole(QPalette::Button);
    auto* hh = new QHBoxLayout(headerRow);
    hh->setContentsMargins(12, 6, 12, 6);
    hh->setSpacing(6);
    count_ = secondaryLabel(QString(), scaled(this, 0.85));
    hh->addWidget(count_);
    hh->addStretch(1);
    auto* sizeBox = new QWidget;
    sizeBox->setToolTip(tr("Total size of clips folder"));
    auto* sb = new QHBoxLayout(sizeBox);
    sb->setContentsMargins(0, 0, 0, 0);
    sb->setSpacing(4);
    auto* drive = new QLabel;
    drive->setPixmap(QIcon::fromTheme(QStringLiteral("drive-harddisk"), style()->standardIcon(QStyle::SP_DriveHDIcon)).pixmap(12, 12));
    sb->addWidget(drive);
    QFont medium = scaled(this, 0.85);
    medium.setWeight(QFont::Medium);
    totalSize_ = secondaryLabel(QString(), medium);
    sb->addWidget(totalSize_);
    hh->addWidget(sizeBox);
    auto* folder = iconButton(QStringLiteral("folder"), QStyle::SP_DirIcon, tr("Show Clips Folder in Files"), this);
    connect(folder, &QToolButton::clicked, this, [this] { model_.openClipsFolder(); });
    hh->addWidget(folder);
    v->addWidget(headerRow);
    v->addWidget(divider());

    // The list, or the empty state.
    leftStack_ = new QStackedWidget;
    auto* empty = new QWidget;
    auto* ev = new QVBoxLayout(empty);
    ev->setSpacing(12);
    ev->addStretch(1);
    auto* emptyIcon = new QLabel;
    emptyIcon->setPixmap(style()->standardIcon(QStyle::SP_MediaStop).pixmap(36, 36));
    emptyIcon->setAlignment(Qt::AlignCenter);
    ev->addWidget(emptyIcon);
    emptyTitle_ = secondaryLabel(tr("No clips found"), scaled(this, 1.0, true));
    emptyTitle_->setAlignment(Qt::AlignCenter);
    ev->addWidget(emptyTitle_);
    emptyText_ = secondaryLabel(tr("Recorded replays will show up here."), scaled(this, 0.85));
    emptyText_->setAlignment(Qt::AlignCenter);
    emptyText_->setWordWrap(true);
    ev->addWidget(emptyText_);
    ev->addStretch(1);
    leftStack_->addWidget(empty);

    listView_ = new QListView;
    listView_->setModel(&list_);
    listView_->setItemDelegate(new ClipRowDelegate(listView_));
    listView_->setUniformItemSizes(true);
    listView_->setSelectionMode(QAbstractItemView::SingleSelection);
    listView_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    listView_->setContextMenuPolicy(Qt::CustomContextMenu);
    listView_->setFrameShape(QFrame::NoFrame);
    listView_->setDragEnabled(true);
    listView_->setDragDropMode(QAbstractItemView::DragOnly);
    listView_->setDefaultDropAction(Qt::CopyAction);
    connect(listView_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) {
                if (syncingSelection_ || !current.isValid()) return;
                if (auto clip = clipAtRow(current.row())) {
                    if (!model_.selectedClip() || model_.selectedClip()->path != clip->path) model_.selectClip(clip);
                }
            });
    connect(listView_, &QListView::customContextMenuRequested, this, [this](const QPoint& pos) {
        const auto clip = clipAtRow(listView_->indexAt(pos).row());
        if (!clip) return;
        QMenu menu(this);
        menu.addAction(QIcon::fromTheme(QStringLiteral("media-playback-start")), tr("Open"), this, [this, clip] { openClip(*clip); });
        menu.addAction(QIcon::fromTheme(QStringLiteral("edit-copy")), tr("Copy"), this, [this, clip] { copyClip(*clip); });
        menu.addSeparator();
        menu.addAction(QIcon::fromTheme(QStringLiteral("edit-cut")), tr("Trim Clip..."), this, [this, clip] { showTrim(*clip); });
        menu.addAction(QIcon::fromTheme(QStringLiteral("edit-rename")), tr("Rename..."), this, [this, clip] { showRename(*clip); });
        menu.addAction(QIcon::fromTheme(QStringLiteral("folder")), tr("Show in Files"), this,
                       [this, clip] { model_.revealInFinder(*clip); });
        menu.addSeparator();
        menu.addAction(QIcon::fromTheme(QStringLiteral("user-trash")), tr("Move to Trash"), this, [this, clip] { confirmDelete(*clip); });
        menu.exec(listView_->viewport()->mapToGlobal(pos));
    });
    leftStack_->addWidget(listView_);
    v->addWidget(leftStack_, 1);
    return pane;
}

QWidget* ClipsView::buildRightPane() {
    rightStack_ = new QStackedWidget;
    rightStack_->setMinimumWidth(460);

    // Placeholder.
    auto* placeholder = new QWidget;
    auto* pv = new QVBoxLayout(placeholder);
    pv->setSpacing(16);
    pv->addStretch(1);
    auto* film = new QLabel;
    film->setPixmap(QIcon::fromTheme(QStringLiteral("video-x-generic"), style()->standardIcon(QStyle::SP_MediaPlay)).pixmap(48, 48));
    film->setAlignment(Qt::AlignCenter);
    pv->addWidget(film);
    QFont title2 = scaled(this, 1.4);
    title2.setWeight(QFont::Medium);
    auto* noClip = new QLabel(tr("No Clip Selected"));
    noClip->setFont(title2);
    noClip->setAlignment(Qt::AlignCenter);
    pv->addWidget(noClip);
    auto* hint = secondaryLabel(tr("Select a clip from the list to preview, or trigger a global hotkey to record."), font());
    hint->setWordWrap(true);
    // A fixed width: a wrapped label placed with an alignment gets a height for a different
    // width and its second line is cut off.
    hint->setFixedWidth(360);
    hint->setAlignment(Qt::AlignCenter);
    pv->addWidget(hint, 0, Qt::AlignHCenter);
    QFont capsuleFont = scaled(this, 0.85);
    capsuleFont.setWeight(QFont::Medium);
    storage_ = new QLabel;
    storage_->setTextFormat(Qt::PlainText);
    storage_->setFont(capsuleFont);
    storage_->setStyleSheet(QStringLiteral("background: rgba(128,128,128,31); border-radius: 10px; padding: 5px 12px;"));
    pv->addWidget(storage_, 0, Qt::AlignHCenter);
    pv->addStretch(1);
    rightStack_->addWidget(placeholder);

    // Preview and details.
    auto* preview = new QWidget;
    auto* v = new QVBoxLayout(preview);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(0);
    screen_ = new QStackedWidget;
    poster_ = new PosterView;
    poster_->onResized = [this](QSize pixels) { model_.setPosterSize(pixels.width(), pixels.height()); };
    screen_->addWidget(poster_);
    v->addWidget(screen_, 1);
    // The player's own controls: play/pause, position and time.
    auto* controls = new QWidget;
    controls->setAutoFillBackground(true);
    controls->setStyleSheet(QStringLiteral("background: black; color: white;"));
    auto* ch = new QHBoxLayout(controls);
    ch->setContentsMargins(8, 4, 8, 4);
    playPause_ = new QToolButton(this);
    playPause_->setToolTip(tr("Play / Pause (Space)"));
    playPause_->setIconSize(QSize(20, 20));
    playIcon_ = playbackIcon(false);
    pauseIcon_ = playbackIcon(true);
    playPause_->setStyleSheet(QStringLiteral("QToolButton { border: none; border-radius: 4px; padding: 3px; }"
                                             "QToolButton:hover { background: rgba(255,255,255,50); }"));
    showPlaying(false);
    ch->addWidget(playPause_);
    seekBar_ = new SeekSlider;
    seekBar_->setRange(0, 0);
    ch->addWidget(seekBar_, 1);
    position_ = new QLabel(QStringLiteral("0:00 / 0:00"));
    position_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    ch->addWidget(position_);
    connect(playPause_, &QToolButton::clicked, this, &ClipsView::togglePlayback);
    connect(seekBar_, &SeekSlider::seekRequested, this, [this](int ms) { model_.seek(ms / 1000.0); });
    v->addWidget(controls);
    v->addWidget(divider());
    auto* info = new QWidget;
    auto* iv = new QVBoxLayout(info);
    iv->setContentsMargins(16, 12, 16, 12);
    iv->setSpacing(10);
    auto* titleRow = new QHBoxLayout;
    title_ = new QLabel;
    title_->setTextFormat(Qt::PlainText);
    title_->setFont(scaled(this, 1.0, true));
    title_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    titleRow->addWidget(title_, 1);
    auto* pencil = iconButton(QStringLiteral("edit-rename"), QStyle::SP_FileDialogDetailedView, tr("Rename clip"), this);
    connect(pencil, &QToolButton::clicked, this, [this] {
        if (model_.selectedClip()) showRename(*model_.selectedClip());
    });
    titleRow->addWidget(pencil);
    iv->addLayout(titleRow);
    details_ = secondaryLabel(QString(), scaled(this, 0.85));
    iv->addWidget(details_);
    auto* commands = new QHBoxLayout;
    const struct {
        const char* text;
        const char* tip;
        const char* icon;
        std::function<void(const ClipItem&)> action;
    } buttons[] = {
        {"Trim", "Trim clip in-app", "edit-cut", [this](const ClipItem& c) { showTrim(c); }},
        {"Rename", "Rename clip", "edit-rename", [this](const ClipItem& c) { showRename(c); }},
        {"Show in Files", "Show the clip in the file manager", "folder", [this](const ClipItem& c) { model_.revealInFinder(c); }},
        {"Delete", "Move clip to Trash", "user-trash", [this](const ClipItem& c) { confirmDelete(c); }},
    };
    for (const auto& b : buttons) {
        auto* button = new QPushButton(QIcon::fromTheme(QString::fromLatin1(b.icon)), tr(b.text));
        button->setToolTip(tr(b.tip));
        connect(button, &QPushButton::clicked, this, [this, action = b.action] {
            if (model_.selectedClip()) action(*model_.selectedClip());
        });
        commands->addWidget(button);
    }
    commands->addStretch(1);
    iv->addLayout(commands);
    v->addWidget(info);
    rightStack_->addWidget(preview);
    return rightStack_;
}

std::optional<ClipItem> ClipsView::clipAtRow(int row) const {
    const ClipItem* clip = list_.clipAt(row);
    return clip ? std::optional<ClipItem>(*clip) : std::nullopt;
}

bool ClipsView::isEmptyStateShown() const { return leftStack_->currentIndex() == 0; }
bool ClipsView::isPreviewShown() const { return rightStack_->currentIndex() == 1; }

void ClipsView::onChanged(unsigned changes) {
    if (changes & (ClipsViewModel::ClipsChanged | ClipsViewModel::TotalSizeChanged)) refreshHeader();
    if (changes & ClipsViewModel::PlayerChanged) attachPlayer();
    if (changes & ClipsViewModel::PosterChanged) {
        poster_->setPicture(sharedImage(model_.poster()));
    }
    // The probe's length arrives as a selection change.
    if ((changes & ClipsViewModel::SelectionChanged) && !model_.player()) showPosterControls();
    if (changes & (ClipsViewModel::ClipsChanged | ClipsViewModel::SelectionChanged)) syncListSelection();
    refreshDetails();
}

void ClipsView::refreshHeader() {
    const size_t all = model_.clips().size();
    const int shown = list_.rowCount();
    if (!model_.searchText().empty()) {
        count_->setText(QStringLiteral("%1 of %2").arg(shown).arg(all));
    } else {
        count_->setText(QStringLiteral("%1 %2").arg(all).arg(all == 1 ? QStringLiteral("clip") : QStringLiteral("clips")));
    }
    totalSize_->setText(QString::fromStdString(model_.formattedTotalSize()));
    leftStack_->setCurrentIndex(shown == 0 ? 0 : 1);
    if (all > 0 && shown == 0) {
        emptyTitle_->setText(tr("No matching clips"));
        emptyText_->setText(tr("No clip name contains \u201c%1\u201d.").arg(QString::fromStdString(model_.searchText())));
    } else {
        emptyTitle_->setText(tr("No clips found"));
        emptyText_->setText(tr("Recorded replays will show up here."));
    }
}

void ClipsView::showPosterControls() {
    const double seconds = model_.selectedClip() ? model_.selectedClip()->durationSeconds : 0;
    seekBar_->setRange(0, static_cast<int>(std::min(seconds * 1000.0, static_cast<double>(INT_MAX))));
    seekBar_->setValue(0);
    position_->setText(QString::fromStdString(formatClipDuration(0) + " / " + formatClipDuration(seconds)));
}

void ClipsView::attachPlayer() {
    for (const auto& c : playerConnections_) disconnect(c);
    playerConnections_.clear();
    showPosterControls();  // until the player knows better
    showPlaying(false);
    auto* player = dynamic_cast<QtPreviewPlayer*>(model_.player());
    if (!player) {
        screen_->setCurrentWidget(poster_);
        return;
    }
    if (!video_) {
        video_ = new QVideoWidget;
        QPalette black = video_->palette();
        black.setColor(QPalette::Window, Qt::black);
        video_->setPalette(black);
        video_->setAutoFillBackground(true);
        screen_->addWidget(video_);
    } else if (QVideoSink* sink = video_->videoSink()) {
        // The sink keeps the last picture of the previous clip (or of the moment the page was
        // left) until a new frame arrives: clear it so nothing stale shows.
        sink->setVideoFrame(QVideoFrame());
    }
    screen_->setCurrentWidget(video_);
    QMediaPlayer& mp = player->mediaPlayer();
    mp.setVideoOutput(video_);
    auto showPosition = [this, &mp] {
        if (!seekBar_->isSliderDown()) seekBar_->setValue(static_cast<int>(mp.position()));
        position_->setText(QString::fromStdString(formatClipDuration(mp.position() / 1000.0) + " / " +
                                                  formatClipDuration(mp.duration() / 1000.0)));
    };
    playerConnections_ << connect(&mp, &QMediaPlayer::durationChanged, this, [this, showPosition](qint64 ms) {
        seekBar_->setRange(0, static_cast<int>(std::min<qint64>(ms, INT_MAX)));
        showPosition();
    });
    playerConnections_ << connect(&mp, &QMediaPlayer::positionChanged, this, showPosition);
    playerConnections_ << connect(&mp, &QMediaPlayer::playbackStateChanged, this, [this](QMediaPlayer::PlaybackState state) {
        showPlaying(state == QMediaPlayer::PlayingState);
    });
}

void ClipsView::syncListSelection() {
    syncingSelection_ = true;
    const int row = model_.selectedClip() ? list_.rowOfPath(model_.selectedClip()->path) : -1;
    if (row >= 0) {
        listView_->setCurrentIndex(list_.index(row));
    } else {
        listView_->clearSelection();
        listView_->setCurrentIndex(QModelIndex());
    }
    syncingSelection_ = false;
}

void ClipsView::refreshDetails() {
    const auto& selected = model_.selectedClip();
    // A clip hidden by the search is not shown, even while it stays selected.
    const std::optional<ClipItem> clip =
        selected && list_.rowOfPath(selected->path) >= 0 ? selected : std::nullopt;
    // A damaged clip shows no picture but keeps its details, with Rename and Delete.
    rightStack_->setCurrentIndex(clip ? 1 : 0);
    storage_->setText(QStringLiteral("Clips Storage: ") + QString::fromStdString(model_.formattedTotalSize()));
    storage_->setVisible(!model_.clips().empty());
    if (!clip) return;
    const QString name = QString::fromStdString(clip->name);
    title_->setText(title_->fontMetrics().elidedText(name, Qt::ElideMiddle, std::max(80, title_->width())));
    title_->setToolTip(plainToolTip(name));
    const QString sep = QStringLiteral("   \u2022   ");
    const QString length = clip->damaged ? tr("Damaged: this file cannot be played")
                                         : QString::fromStdString(formatClipDuration(clip->durationSeconds));
    details_->setText(length + sep +
                      QString::fromStdString(formatByteCount(clip->fileSize)) + sep +
                      ClipListModel::dateText(*clip));
}

void ClipsView::showPlaying(bool playing) {
    playPause_->setIcon(playing ? pauseIcon_ : playIcon_);
}

void ClipsView::installKeys() {
    // Keys of the list act on the selected clip; the search field keeps its own Space, Delete
    // and Enter because these shortcuts belong to the list only.
    auto onList = [this](const QKeySequence& key, auto action) {
        auto* shortcut = new QShortcut(key, listView_, nullptr, nullptr, Qt::WidgetShortcut);
        connect(shortcut, &QShortcut::activated, this, [this, action] {
            const auto& clip = model_.selectedClip();
            if (clip && list_.rowOfPath(clip->path) >= 0) action(*clip);
        });
    };
    onList(QKeySequence(Qt::Key_Space), [this](const ClipItem&) { togglePlayback(); });
    onList(QKeySequence(Qt::Key_Delete), [this](const ClipItem& c) { confirmDelete(c); });
    onList(QKeySequence(Qt::Key_F2), [this](const ClipItem& c) { showRename(c); });
    onList(QKeySequence(Qt::Key_Return), [this](const ClipItem& c) { openClip(c); });
    onList(QKeySequence(Qt::Key_Enter), [this](const ClipItem& c) { openClip(c); });
    onList(QKeySequence::Copy, [this](const ClipItem& c) { copyClip(c); });
    auto* find = new QShortcut(QKeySequence::Find, this, nullptr, nullptr, Qt::WidgetWithChildrenShortcut);
    connect(find, &QShortcut::activated, this, [this] {
        search_->setFocus(Qt::ShortcutFocusReason);
        search_->selectAll();
    });
}

void ClipsView::togglePlayback() { model_.togglePlayback(); }

void ClipsView::copyClip(const ClipItem& clip) {
    QGuiApplication::clipboard()->setMimeData(clipFilesMimeData({clip.path}).release());
}

void ClipsView::openClip(const ClipItem& clip) {
    model_.pausePlayback();  // one picture with sound at a time
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(clip.path)));
}

void ClipsView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    model_.setShown(true);
}

void ClipsView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    model_.setShown(false);
}

void ClipsView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    refreshDetails();  // the title is elided to the new width
}

void ClipsView::windowWillClose() {
    model_.windowWillClose();
    if (trim_) trim_->windowWillClose();
}

void ClipsView::showRename(const ClipItem& clip) {
    if (rename_) rename_->close();
    auto* sheet = new RenameClipSheet(clip, [this, clip](const std::string& name) { return model_.renameClip(clip, name); }, this);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->setWindowModality(Qt::WindowModal);
    rename_ = sheet;
    sheet->open();
}

void ClipsView::showTrim(const ClipItem& clip) {
    if (trim_) return;
    auto* sheet = new TrimClipSheet(clip, model_, scheduler_, this);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->setWindowModality(Qt::WindowModal);
    trim_ = sheet;
    sheet->open();
}

void ClipsView::confirmDelete(const ClipItem& clip) {
    clipToDelete_ = clip;
    auto* box = new QMessageBox(this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(tr("Move Clip to Trash?"));
    // Rich text only for the layout: the file name inside is escaped, so it shows as written.
    box->setTextFormat(Qt::RichText);
    box->setText(alertHtml(tr("Move Clip to Trash?"), QStringLiteral("Are you sure you want to move '") + QString::fromStdString(clip.name) +
                            QStringLiteral("' to the Trash?")));
    box->addButton(tr("Cancel"), QMessageBox::RejectRole);
    QPushButton* trash = box->addButton(tr("Move to Trash"), QMessageBox::DestructiveRole);
    connect(box, &QMessageBox::buttonClicked, this, [this, trash](QAbstractButton* clicked) {
        std::optional<ClipItem> clip = std::exchange(clipToDelete_, std::nullopt);
        if (clicked != trash || !clip) return;
        const FileOpResult result = model_.deleteClip(*clip);
        if (!result.ok()) showTrashFailure(*clip, result.message);
    });
    deleteAlert_ = box;
    box->open();
}

void ClipsView::showTrashFailure(const ClipItem& clip, const std::string& reason) {
    auto* box = new QMessageBox(this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(tr("Could Not Move Clip to Trash"));
    box->setTextFormat(Qt::RichText);
    box->setText(alertHtml(tr("Could Not Move Clip to Trash"),
                           QStringLiteral("'") + QString::fromStdString(clip.name) + QStringLiteral("' was not moved to the Trash and is still in its folder: ") +
                               QString::fromStdString(reason)));
    box->addButton(tr("OK"), QMessageBox::AcceptRole);
    trashFailureAlert_ = box;
    box->open();
}

}  // namespace corvane
