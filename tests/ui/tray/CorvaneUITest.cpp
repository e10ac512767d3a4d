// The tray item on a real X server with a tray host: menu order and texts, profile commands,
// the state shown in tooltip and icon, the menu actions and the icon search.
#include "ui/tray/CorvaneUI.h"

#include <QAction>
#include <QDir>
#include <QImage>
#include <QMenu>
#include <QSystemTrayIcon>

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "platform/events/QtWait.h"
#include "support/TempDir.h"

namespace corvane::test {
namespace {

// What the user reads: "&&" shows as "&", a single "&" marks a mnemonic and is not shown.
QString shownText(const QAction* a) {
    QString t = a->text();
    t.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    t.remove(QLatin1Char('&'));
    t.replace(QStringLiteral("\x01"), QStringLiteral("&"));
    return t;
}

// The menu as lines: "-" for a separator, "[x]" marks for disabled and hidden items.
std::vector<std::string> menuLines(const QMenu& menu) {
    std::vector<std::string> lines;
    for (QAction* a : menu.actions()) {
        if (a->isSeparator()) {
            lines.push_back("-");
            continue;
        }
        std::string line = shownText(a).toStdString();
        if (!a->isEnabled()) line += " [disabled]";
        if (!a->isVisible()) line += " [hidden]";
        lines.push_back(line);
    }
    return lines;
}

QAction* findAction(const QMenu& menu, const QString& text) {
    for (QAction* a : menu.actions())
        if (shownText(a) == text) return a;
    return nullptr;
}

class CorvaneUITest : public ::testing::Test {
protected:
    CorvaneUITest() {
        TrayCallbacks callbacks;
        callbacks.getStatusHandler = [this] { return status; };
        callbacks.onClipRequested = [this](double s) { requested.push_back(s); };
        callbacks.onQuitRequested = [this] { ++quitRequests; };
        ui.setCallbacks(callbacks);
    }

    CorvaneStatus status;
    std::vector<double> requested;
    int quitRequests = 0;
    CorvaneUI ui;
};

TEST_F(CorvaneUITest, MenuHasTheProfilesBetweenTheSeparatorsInOrder) {
    status.isRecording = false;
    ui.setupMenubar({RecordItem(30, "Cmd+Shift+1"), RecordItem(90, ""), RecordItem(120, "Cmd+Shift+3")});
    ASSERT_NE(ui.menu(), nullptr);
    EXPECT_EQ(menuLines(*ui.menu()),
              (std::vector<std::string>{"Corvane [disabled]", "Preferences & Clips...", "-",
                                        "Save last 30 seconds (Cmd+Shift+1)", "Save last 1m 30s",
                                        "Save last 2 minutes (Cmd+Shift+3)", "-",
                                        "Replay Buffer: Idle [disabled]", "Open Clips Folder...",
                                        "Screen Capture Unavailable [disabled] [hidden]", "-",
                                        "Quit Corvane"}));
}

TEST_F(CorvaneUITest, ReplacingProfilesLeavesEachCommandOnce) {
    ui.setupMenubar({RecordItem(30, "Cmd+Shift+1")});
    ui.updateRecords({RecordItem(45, "Ctrl+Alt+9"), RecordItem(60, "Cmd+Shift+2")});
    ui.updateRecords({RecordItem(45, "Ctrl+Alt+9"), RecordItem(60, "Cmd+Shift+2")});
    std::vector<std::string> lines = menuLines(*ui.menu());
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 2, lines.begin() + 6),
              (std::vector<std::string>{"-", "Save last 45 seconds (Ctrl+Alt+9)",
                                        "Save last 1 minute (Cmd+Shift+2)", "-"}));
    ui.updateRecords({});
    lines = menuLines(*ui.menu());
    EXPECT_EQ(lines[2], "-");
    EXPECT_EQ(lines[3], "-") << "with no profiles the separators meet";
}

TEST_F(CorvaneUITest, StateShowsInBufferLineTooltipAndIcon) {
    ui.setupMenubar({});
    status = CorvaneStatus{};
    status.isRecording = true;
    status.bufferDurationSeconds = 12.9;
    ui.updateUI();
    EXPECT_TRUE(findAction(*ui.menu(), "Replay Buffer: Active (12s ready)"));
    EXPECT_EQ(ui.trayIcon()->toolTip(), "Corvane - Recording active (12s buffered)");
    EXPECT_EQ(ui.iconState(), TrayIconState::Recording);

    ui.setSavingClip(true);
    ui.updateUI();
    EXPECT_EQ(ui.trayIcon()->toolTip(), "Corvane - Saving clip to disk");
    EXPECT_EQ(ui.iconState(), TrayIconState::Saving);

    status.hasPermission = false;  // outranks saving and recording
    ui.updateUI();
    EXPECT_EQ(ui.trayIcon()->toolTip(), "Corvane - Screen recording permission required");
    EXPECT_EQ(ui.iconState(), TrayIconState::Unavailable);
    QAction* unavailable = findAction(*ui.menu(), "Screen Capture Unavailable");
    ASSERT_TRUE(unavailable);
    EXPECT_TRUE(unavailable->isVisible());
    EXPECT_FALSE(unavailable->isEnabled());

    status.hasPermission = true;
    status.isRecording = false;
    ui.setSavingClip(false);
    ui.updateUI();
    EXPECT_FALSE(unavailable->isVisible());
    EXPECT_TRUE(findAction(*ui.menu(), "Replay Buffer: Idle"));
    EXPECT_EQ(ui.trayIcon()->toolTip(), "Corvane - Capture stream idle or sleeping");
    EXPECT_EQ(ui.iconState(), TrayIconState::Idle);
}

TEST_F(CorvaneUITest, ActionsReachTheirCallbacks) {
    ui.setupMenubar({RecordItem(30, "Cmd+Shift+1"), RecordItem(90, "")});
    findAction(*ui.menu(), "Save last 1m 30s")->trigger();
    EXPECT_EQ(requested, std::vector<double>{90.0});

    int opened = 0;
    ui.onOpenMainWindow = [&] { ++opened; };
    findAction(*ui.menu(), "Preferences & Clips...")->trigger();
    EXPECT_EQ(opened, 1);

    findAction(*ui.menu(), "Quit Corvane")->trigger();
    EXPECT_EQ(quitRequests, 1);
}

TEST_F(CorvaneUITest, OpenFolderCreatesTheClipsFolderFirst) {
    TempDir home;
    const QByteArray savedHome = qgetenv("HOME");
    qputenv("HOME", home.path().string().c_str());
    ui.setOutputDir("~/Videos/Corvane");
    std::optional<QString> opened;
    ui.openFolder = [&](const QString& folder) {
        opened = folder;
        return true;
    };
    ui.setupMenubar({});
    findAction(*ui.menu(), "Open Clips Folder...")->trigger();
    qputenv("HOME", savedHome);
    const std::filesystem::path expected = home.path() / "Videos/Corvane";
    EXPECT_TRUE(std::filesystem::is_directory(expected));
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->toStdString(), expected.string());
}

TEST_F(CorvaneUITest, ItemAppearsInTheTrayHost) {
    ASSERT_TRUE(QSystemTrayIcon::isSystemTrayAvailable()) << "tests need a tray host (trayer)";
    ui.setupMenubar({RecordItem(30, "Cmd+Shift+1")});
    ASSERT_TRUE(ui.trayIcon()->isVisible());
    EXPECT_TRUE(waitUntil([&] { return !ui.trayIcon()->geometry().isEmpty(); }))
        << "the tray host did not embed the item";
}

TEST(TrayIconArt, FindsTheProjectIconAndDrawsDistinctStates) {
    const QString saved = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(QStringLiteral(CORVANE_SOURCE_DIR "/src")));
    TrayIconArt fromSourceTree;  // "../assets/menubar_icon.png" from src/
    TempDir empty;
    QDir::setCurrent(QString::fromStdString(empty.path().string()));
    TrayIconArt fallback;
    QDir::setCurrent(saved);

    EXPECT_TRUE(fromSourceTree.source().endsWith(QStringLiteral("assets/menubar_icon.png")))
        << fromSourceTree.source().toStdString();
    // Without a file anywhere (the test binary has none beside it), a drawn symbol stands in.
    const QImage drawn = fallback.icon(TrayIconState::Recording).pixmap(18, 18).toImage();
    EXPECT_FALSE(drawn.isNull());

    const auto image = [&](TrayIconState s) {
        return fromSourceTree.icon(s).pixmap(18, 18).toImage();
    };
    EXPECT_EQ(image(TrayIconState::Recording).size(), QSize(18, 18));
    EXPECT_NE(image(TrayIconState::Recording), image(TrayIconState::Saving));
    EXPECT_NE(image(TrayIconState::Recording), image(TrayIconState::Idle));
    EXPECT_NE(image(TrayIconState::Idle), image(TrayIconState::Unavailable));
}

}  // namespace
}  // namespace corvane::test
