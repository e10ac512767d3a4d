#include "ui/window/CorvaneAppView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QSplitter>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "core/settings/SettingsViewModel.h"
#include "ui/settings/SettingsView.h"

namespace corvane {

namespace {

QIcon tabIcon(CorvaneTab tab) {
    return tab == CorvaneTab::clips ? QIcon::fromTheme(QStringLiteral("video-x-generic"))
                                    : QIcon::fromTheme(QStringLiteral("preferences-system"));
}

QWidget* placeholderClipsPage(QWidget* parent) {
    auto* page = new QWidget(parent);
    auto* layout = new QVBoxLayout(page);
    auto* label = new QLabel(QStringLiteral("Clips"), page);
    label->setAlignment(Qt::AlignCenter);
    layout->addWidget(label);
    return page;
}

}  // namespace

CorvaneAppView::CorvaneAppView(Scheduler& scheduler, ScreenCaptureBackend* captureSources, Executor& sourcesWorker,
                               ClipsPage clipsPage, CorvaneTab initialTab, QWidget* parent,
                               DesktopSettingsTraits desktop)
    : QWidget(parent),
      settingsModel_(std::make_unique<SettingsViewModel>(scheduler, captureSources, sourcesWorker, std::move(desktop))),
      clipsPage_(std::move(clipsPage)),
      selectedTab_(initialTab) {
    sidebar_ = new QListWidget(this);
    sidebar_->setObjectName(QStringLiteral("sidebar"));
    sidebar_->setMinimumWidth(160);
    sidebar_->setMaximumWidth(220);
    sidebar_->setStyleSheet(QStringLiteral("QListWidget::item { padding: 4px 2px; }"));
    QFont headline = sidebar_->font();
    headline.setBold(true);
    for (CorvaneTab tab : kAllTabs) {
        auto* item = new QListWidgetItem(tabIcon(tab), QString::fromUtf8(tabLabel(tab).data()), sidebar_);
        item->setFont(headline);
    }

    pages_ = new QStackedWidget(this);
    clipsWidget_ = clipsPage_.create ? clipsPage_.create(pages_) : nullptr;
    if (!clipsWidget_) clipsWidget_ = placeholderClipsPage(pages_);
    settingsView_ = new SettingsView(*settingsModel_, pages_);
    pages_->addWidget(clipsWidget_);
    pages_->addWidget(settingsView_);

    auto* splitter = new QSplitter(Qt::Horizontal, this);
    splitter->addWidget(sidebar_);
    splitter->addWidget(pages_);
    splitter->setCollapsible(0, false);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({180, 780});
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(splitter);

    settingsModel_->setOnOutputDirSaved([this](const std::string& dir) { setClipsFolder(dir); });

    sidebar_->setCurrentRow(static_cast<int>(initialTab));
    pages_->setCurrentIndex(static_cast<int>(initialTab));
    connect(sidebar_, &QListWidget::currentRowChanged, this, &CorvaneAppView::onTabChanged);
}

CorvaneAppView::~CorvaneAppView() {
    // The pages observe the settings model: they go first, while the model still exists.
    qDeleteAll(findChildren<QWidget*>(Qt::FindDirectChildrenOnly));
}

void CorvaneAppView::selectTab(CorvaneTab tab) { sidebar_->setCurrentRow(static_cast<int>(tab)); }

void CorvaneAppView::onTabChanged(int row) {
    if (row < 0 || row >= static_cast<int>(kAllTabs.size())) return;
    selectedTab_ = kAllTabs[static_cast<size_t>(row)];
    pages_->setCurrentIndex(row);
    if (selectedTab_ == CorvaneTab::clips) {
        if (clipsPage_.reload) clipsPage_.reload(clipsWidget_);
    } else if (clipsPage_.pause) {
        clipsPage_.pause(clipsWidget_);
    }
}

void CorvaneAppView::appear(const std::string& outputDir, const std::string& configPath,
                            std::function<void()> onSettingsChanged) {
    setClipsFolder(outputDir);
    if (clipsPage_.reload) clipsPage_.reload(clipsWidget_);
    settingsModel_->setConfigPath(configPath);
    settingsModel_->setOnSettingsChanged(std::move(onSettingsChanged));
    settingsModel_->load();
}

void CorvaneAppView::pausePreview() {
    if (clipsPage_.pause) clipsPage_.pause(clipsWidget_);
}

void CorvaneAppView::setClipsFolder(const std::string& outputDir) {
    if (outputDir == clipsFolder_) return;
    clipsFolder_ = outputDir;
    if (clipsPage_.setOutputDir) clipsPage_.setOutputDir(clipsWidget_, outputDir);
}

}  // namespace corvane
