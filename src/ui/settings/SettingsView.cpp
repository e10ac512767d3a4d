#include "ui/settings/SettingsView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QStandardItemModel>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include "core/config/ConfigFile.h"
#include "core/settings/SettingsRules.h"
#include "ui/settings/RecordRowView.h"

namespace corvane {

namespace {

constexpr int kLabelColumnWidth = 130;

struct Entry {
    QString text;
    QVariant value;
    enum class Kind { item, header, separator } kind = Kind::item;
    bool operator==(const Entry&) const = default;
};

std::vector<Entry> entriesOf(const QComboBox* combo) {
    std::vector<Entry> entries;
    const auto* model = qobject_cast<const QStandardItemModel*>(combo->model());
    for (int i = 0; i < combo->count(); ++i) {
        const QStandardItem* item = model ? model->item(i) : nullptr;
        Entry::Kind kind = Entry::Kind::item;
        if (combo->itemData(i, Qt::AccessibleDescriptionRole).toString() == QLatin1String("separator")) {
            kind = Entry::Kind::separator;
        } else if (item && !item->isEnabled()) {
            kind = Entry::Kind::header;
        }
        entries.push_back({kind == Entry::Kind::separator ? QString() : combo->itemText(i),
                           kind == Entry::Kind::item ? combo->itemData(i) : QVariant(), kind});
    }
    return entries;
}

// Replaces the entries only when they differ (an open popup is left alone otherwise), then
// selects `current`, or nothing when no entry has that value. Signals stay blocked throughout.
void fillCombo(QComboBox* combo, const std::vector<Entry>& entries, const QVariant& current) {
    const QSignalBlocker block(combo);
    if (entriesOf(combo) != entries) {
        combo->clear();
        auto* model = qobject_cast<QStandardItemModel*>(combo->model());
        for (const Entry& e : entries) {
            if (e.kind == Entry::Kind::separator) {
                combo->insertSeparator(combo->count());
                continue;
            }
            combo->addItem(e.text, e.value);
            if (e.kind == Entry::Kind::header && model) {
                QStandardItem* item = model->item(combo->count() - 1);
                item->setEnabled(false);
                QFont bold = item->font();
                bold.setBold(true);
                item->setFont(bold);
            }
        }
    }
    int index = -1;
    for (int i = 0; i < combo->count(); ++i) {
        if (entries[static_cast<size_t>(i)].kind == Entry::Kind::item && combo->itemData(i) == current) {
            index = i;
            break;
        }
    }
    combo->setCurrentIndex(index);
}

QString qs(const std::string& s) { return QString::fromStdString(s); }

QLabel* rowLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFixedWidth(kLabelColumnWidth);
    return label;
}

QLabel* secondaryLabel(const QString& text, QWidget* parent, double scale = 0.85) {
    auto* label = new QLabel(text, parent);
    label->setForegroundRole(QPalette::PlaceholderText);
    QFont f = label->font();
    f.setPointSizeF(f.pointSizeF() * scale);
    label->setFont(f);
    return label;
}

}  // namespace

SettingsView::SettingsView(SettingsViewModel& model, QWidget* parent) : QWidget(parent), model_(model) {
    buildUi();
    model_.setFolderChooser([this]() -> std::optional<std::string> {
        const QString start = QString::fromStdString(expandTilde(model_.outputDir()));
        const QString chosen = QFileDialog::getExistingDirectory(this, QStringLiteral("Select Output Folder"), start,
                                                                 QFileDialog::ShowDirsOnly);
        if (chosen.isEmpty()) return std::nullopt;
        return chosen.toStdString();
    });
    observer_ = model_.addObserver([this] { refresh(); });

    // Displays come and go with outputs and modes; the window list is worth re-reading when the
    // user comes back from another application.
    auto displaysChanged = [this] { model_.handleDisplayConfigurationChanged(); };
    auto watchScreen = [this, displaysChanged](QScreen* screen) {
        connect(screen, &QScreen::geometryChanged, this, displaysChanged);
    };
    for (QScreen* screen : QGuiApplication::screens()) watchScreen(screen);
    connect(qGuiApp, &QGuiApplication::screenAdded, this, [watchScreen, displaysChanged](QScreen* screen) {
        watchScreen(screen);
        displaysChanged();
    });
    connect(qGuiApp, &QGuiApplication::screenRemoved, this, displaysChanged);
    connect(qGuiApp, &QGuiApplication::primaryScreenChanged, this, displaysChanged);
    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state == Qt::ApplicationActive && isVisible()) model_.handleActiveApplicationChanged();
    });

    refresh();
}

SettingsView::~SettingsView() {
    model_.removeObserver(observer_);
    model_.setFolderChooser(nullptr);
}

void SettingsView::buildUi() {
    auto* content = new QWidget;
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(24, 20, 24, 20);
    column->setSpacing(14);

    auto* title = new QLabel(QStringLiteral("Preferences"), content);
    QFont titleFont = title->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.6);
    titleFont.setBold(true);
    title->setFont(titleFont);
    column->addWidget(title);
    column->addWidget(secondaryLabel(QStringLiteral("Changes are applied automatically."), content, 0.95));

    errorLine_ = new QLabel(content);
    errorLine_->setObjectName(QStringLiteral("errorLine"));
    errorLine_->setStyleSheet(QStringLiteral("color: #c0392b;"));
    errorLine_->setWordWrap(true);
    errorLine_->hide();
    column->addWidget(errorLine_);

    // Video Capture
    auto* video = new QGroupBox(QStringLiteral("Video Capture"), content);
    auto* grid = new QGridLayout(video);
    targetPicker_ = new QComboBox(video);
    targetPicker_->setObjectName(QStringLiteral("captureTarget"));
    targetPicker_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    targetPicker_->setMinimumContentsLength(30);
    connect(targetPicker_, &QComboBox::activated, this, [this](int index) {
        const QVariant value = targetPicker_->itemData(index);
        if (value.isValid()) model_.setCaptureTarget(value.toString().toStdString());
    });
    refreshButton_ = new QToolButton(video);
    refreshButton_->setIcon(QIcon::fromTheme(QStringLiteral("view-refresh")));
    if (refreshButton_->icon().isNull()) refreshButton_->setText(QStringLiteral("\u21bb"));
    refreshButton_->setAutoRaise(true);
    refreshButton_->setToolTip(QStringLiteral("Refresh screens and open windows"));
    connect(refreshButton_, &QToolButton::clicked, this, &SettingsView::refreshLists);
    auto* targetRow = new QHBoxLayout;
    targetRow->addWidget(targetPicker_, 1);
    targetRow->addWidget(refreshButton_);
    grid->addWidget(rowLabel(QStringLiteral("Capture Target:"), video), 0, 0);
    grid->addLayout(targetRow, 0, 1);

    fpsPicker_ = new QComboBox(video);
    fpsPicker_->setObjectName(QStringLiteral("frameRate"));
    connect(fpsPicker_, &QComboBox::activated, this, [this](int index) {
        model_.setFps(fpsPicker_->itemData(index).toLongLong());
    });
    grid->addWidget(rowLabel(QStringLiteral("Frame Rate:"), video), 1, 0);
    grid->addWidget(fpsPicker_, 1, 1, Qt::AlignLeft);

    resolutionPicker_ = new QComboBox(video);
    resolutionPicker_->setObjectName(QStringLiteral("resolution"));
    resolutionPicker_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    connect(resolutionPicker_, &QComboBox::activated, this, [this](int index) {
        model_.setResolution(resolutionPicker_->itemData(index).toString().toStdString());
    });
    grid->addWidget(rowLabel(QStringLiteral("Resolution:"), video), 2, 0);
    grid->addWidget(resolutionPicker_, 2, 1, Qt::AlignLeft);

    estimate_ = secondaryLabel(QString(), video);
    estimate_->setObjectName(QStringLiteral("estimatedSize"));
    grid->addWidget(rowLabel(QStringLiteral("Estimated Size:"), video), 3, 0);
    grid->addWidget(estimate_, 3, 1);
    grid->setColumnStretch(1, 1);
    column->addWidget(video);

    // Storage Location
    auto* storage = new QGroupBox(QStringLiteral("Storage Location"), content);
    auto* storageGrid = new QGridLayout(storage);
    folderField_ = new QLineEdit(storage);
    folderField_->setObjectName(QStringLiteral("clipsFolder"));
    folderField_->setPlaceholderText(QStringLiteral("Path"));
    connect(folderField_, &QLineEdit::textEdited, this, [this](const QString& text) {
        model_.setOutputDir(text.toStdString());
    });
    browseButton_ = new QPushButton(QStringLiteral("Browse..."), storage);
    connect(browseButton_, &QPushButton::clicked, this, [this] { model_.browseFolder(); });
    openFolderButton_ = new QToolButton(storage);
    openFolderButton_->setIcon(QIcon::fromTheme(QStringLiteral("folder")));
    if (openFolderButton_->icon().isNull()) openFolderButton_->setText(QStringLiteral("Open"));
    openFolderButton_->setToolTip(QStringLiteral("Open in File Manager"));
    connect(openFolderButton_, &QToolButton::clicked, this, &SettingsView::openClipsFolder);
    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(folderField_, 1);
    folderRow->addWidget(browseButton_);
    folderRow->addWidget(openFolderButton_);
    storageGrid->addWidget(rowLabel(QStringLiteral("Clips Folder:"), storage), 0, 0);
    storageGrid->addLayout(folderRow, 0, 1);
    folderProblem_ = new QLabel(storage);
    folderProblem_->setObjectName(QStringLiteral("folderProblem"));
    folderProblem_->setStyleSheet(QStringLiteral("color: #c0392b;"));
    folderProblem_->hide();
    storageGrid->addWidget(folderProblem_, 1, 1);
    column->addWidget(storage);

    // Audio & Feedback ("&&": a lone "&" would mark a mnemonic and vanish from the title)
    auto* audio = new QGroupBox(QStringLiteral("Audio && Feedback"), content);
    auto* audioColumn = new QVBoxLayout(audio);
    recordAudio_ = new QCheckBox(QStringLiteral("Record System Audio"), audio);
    playSound_ = new QCheckBox(QStringLiteral("Play Confirmation Sound on Clip Saved"), audio);
    connect(recordAudio_, &QCheckBox::clicked, this, [this](bool on) { model_.setRecordAudio(on); });
    connect(playSound_, &QCheckBox::clicked, this, [this](bool on) { model_.setPlaySound(on); });
    audioColumn->addWidget(recordAudio_);
    audioColumn->addWidget(playSound_);
    column->addWidget(audio);

    // Recording Shortcuts
    auto* shortcuts = new QGroupBox(QStringLiteral("Recording Shortcuts"), content);
    auto* shortcutsColumn = new QVBoxLayout(shortcuts);
    auto* headings = new QHBoxLayout;
    auto* durationHeading = secondaryLabel(QStringLiteral("Duration"), shortcuts);
    durationHeading->setFixedWidth(198);
    headings->addWidget(durationHeading);
    headings->addWidget(secondaryLabel(QStringLiteral("Global Shortcut"), shortcuts), 1);
    shortcutsColumn->addLayout(headings);
    rowsLayout_ = new QVBoxLayout;
    rowsLayout_->setSpacing(4);
    shortcutsColumn->addLayout(rowsLayout_);
    addButton_ = new QPushButton(QIcon::fromTheme(QStringLiteral("list-add")), QStringLiteral("Add Shortcut"), shortcuts);
    addButton_->setFlat(true);
    connect(addButton_, &QPushButton::clicked, this, [this] { model_.addRecord(); });
    shortcutsColumn->addWidget(addButton_, 0, Qt::AlignLeft);
    duplicateWarning_ = secondaryLabel(QStringLiteral("Duplicate shortcut detected"), shortcuts);
    duplicateWarning_->setForegroundRole(QPalette::NoRole);
    duplicateWarning_->setStyleSheet(QStringLiteral("color: orange;"));
    duplicateWarning_->hide();
    shortcutsColumn->addWidget(duplicateWarning_);
    column->addWidget(shortcuts);
    column->addStretch(1);

    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidget(content);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scroll);
}

void SettingsView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    refreshLists();
}

void SettingsView::refreshLists() {
    model_.refreshCaptureSources();  // the answer comes later, through the observer
}

void SettingsView::refresh() {
    const std::string problem = !model_.loadError().empty() ? model_.loadError() : model_.saveError();
    errorLine_->setText(qs(problem));
    errorLine_->setVisible(!problem.empty());

    fillTargetPicker();
    fillFpsPicker();
    fillResolutionPicker();
    estimate_->setText(qs(model_.estimatedSize30sDescription()));

    const QString folder = qs(model_.outputDir());
    if (folderField_->text() != folder) {
        const QSignalBlocker block(folderField_);
        folderField_->setText(folder);
    }
    const std::string folderProblem = model_.outputDirProblem();
    folderProblem_->setText(qs(folderProblem));
    folderProblem_->setVisible(!folderProblem.empty());
    folderField_->setStyleSheet(folderProblem.empty() ? QString()
                                                      : QStringLiteral("QLineEdit { border: 1px solid #c0392b; }"));
    folderField_->setProperty("invalid", !folderProblem.empty());

    {
        const QSignalBlocker a(recordAudio_), b(playSound_);
        recordAudio_->setChecked(model_.recordAudio());
        playSound_->setChecked(model_.playSound());
    }

    fillRecordRows();
    duplicateWarning_->setVisible(!model_.duplicateHotkeyErrors().empty());
}

void SettingsView::fillTargetPicker() {
    using Kind = Entry::Kind;
    std::vector<Entry> entries{{QStringLiteral("Screens"), {}, Kind::header},
                               {QStringLiteral("Primary Display (Default)"), QStringLiteral("display:0")}};
    for (const DisplayItem& d : model_.availableDisplays())
        entries.push_back({qs(d.displayName()), QStringLiteral("display:%1").arg(d.id)});
    entries.push_back({QStringLiteral("Applications & Windows"), {}, Kind::header});
    if (model_.availableWindows().empty()) {
        entries.push_back({QStringLiteral("No open application windows"), QStringLiteral("window:none")});
    }
    for (const WindowItem& w : model_.availableWindows())
        entries.push_back({qs(w.displayName()), QStringLiteral("window:%1").arg(w.id)});
    if (model_.isCurrentTargetMissing()) {
        entries.push_back({{}, {}, Kind::separator});
        entries.push_back({qs(model_.missingTargetLabel()), qs(model_.captureTarget())});
    }
    fillCombo(targetPicker_, entries, qs(model_.captureTarget()));
}

void SettingsView::fillFpsPicker() {
    std::vector<Entry> entries{{QStringLiteral("48 FPS (Recommended)"), qlonglong{48}},
                               {QStringLiteral("60 FPS"), qlonglong{60}},
                               {QStringLiteral("30 FPS"), qlonglong{30}},
                               {QStringLiteral("120 FPS"), qlonglong{120}}};
    const qlonglong fps = model_.fps();
    // A hand-edited rate is shown as it is rather than as an empty picker.
    if (std::none_of(entries.begin(), entries.end(), [&](const Entry& e) { return e.value == fps; }))
        entries.push_back({QStringLiteral("%1 FPS").arg(fps), fps});
    fillCombo(fpsPicker_, entries, fps);
}

void SettingsView::fillResolutionPicker() {
    std::vector<Entry> entries;
    if (model_.windowId() != 0) {
        entries = {{qs(model_.windowResolutionLabel(1.0)), QStringLiteral("native")},
                   {qs(model_.windowResolutionLabel(0.75)), QStringLiteral("75%")},
                   {qs(model_.windowResolutionLabel(0.5)), QStringLiteral("50%")}};
    } else {
        entries = {{qs(model_.nativeResolutionLabel()), QStringLiteral("native")},
                   {QStringLiteral("4K (3840x2160)"), QStringLiteral("4k")},
                   {QStringLiteral("1440p (2560x1440)"), QStringLiteral("1440p")},
                   {QStringLiteral("1080p (1920x1080)"), QStringLiteral("1080p")},
                   {QStringLiteral("720p (1280x720)"), QStringLiteral("720p")}};
    }
    const QString current = qs(model_.resolution());
    if (std::none_of(entries.begin(), entries.end(), [&](const Entry& e) { return e.value == current; }))
        entries.push_back({current, current});
    fillCombo(resolutionPicker_, entries, current);
}

void SettingsView::fillRecordRows() {
    const std::vector<RecordItem>& records = model_.records();
    const std::set<std::string> duplicates = model_.duplicateHotkeyErrors();
    const bool sameRows = rows_.size() == records.size() &&
                          std::equal(rows_.begin(), rows_.end(), records.begin(),
                                     [](RecordRowView* row, const RecordItem& r) { return row->recordId() == r.id; });
    if (!sameRows) {
        // deleteLater: the row whose button started this change may still be on the stack.
        for (RecordRowView* row : rows_) {
            rowsLayout_->removeWidget(row);
            row->hide();
            row->deleteLater();
        }
        rows_.clear();
        for (const RecordItem& record : records) {
            const std::string id = record.id;
            auto* row = new RecordRowView(
                {.onDurationChanged = [this, id](int64_t seconds) { model_.setRecordDuration(id, seconds); },
                 .onHotkeyChanged = [this, id](const std::string& hotkey) { model_.setRecordHotkey(id, hotkey); },
                 .onDelete = [this, id] { model_.removeRecord(id); }},
                this);
            rowsLayout_->addWidget(row);
            rows_.push_back(row);
        }
    }
    for (size_t i = 0; i < records.size(); ++i) {
        const bool duplicate = duplicates.count(normalizedHotkey(records[i].hotkey)) > 0;
        rows_[i]->setRecord(records[i], records.size() > 1, duplicate);
    }
}

void SettingsView::openClipsFolder() {
    if (!model_.outputDirProblem().empty()) return;
    const QString folder = QString::fromStdString(expandTilde(model_.outputDir()));
    QDir().mkpath(folder);  // a failure shows up as the file manager's own error
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

}  // namespace corvane
