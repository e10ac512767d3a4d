#include "ui/tray/CorvaneUI.h"

#include <QAction>
#include <QDir>
#include <QImage>
#include <QMenu>
#include <QProcess>
#include <QSystemTrayIcon>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>

#include "support/QtEventWait.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"
#include "support/XKeyboardTestSupport.h"  // last: Xlib's macros

namespace corvane::test {
namespace {

// What the user reads: "&&" shows as "&", a single "&" marks a mnemonic and is not shown.
QString shownText(const QAction* a) {
    return a->text().replace(QStringLiteral("&&"), QStringLiteral("\x01")).remove(QLatin1Char('&')).replace(
        QStringLiteral("\x01"), QStringLiteral("&"));
}

// The menu as lines: "-" for a separator, "[x]" marks for disabled and hidden items.
std::vector<std::string> menuLines(const QMenu& menu) {
    std::vector<std::string> lines;
    for (QAction* a : menu.actions()) {
        lines.push_back(a->isSeparator() ? "-"
                                         : shownText(a).toStdString() + (a->isEnabled() ? "" : " [disabled]") +
                                               (a->isVisible() ? "" : " [hidden]"));
    }
    return lines;
}

QAction* findAction(const QMenu& menu, const QString& text) {
    const QList<QAction*> actions = menu.actions();
    auto found = std::find_if(actions.begin(), actions.end(), [&](QAction* a) { return shownText(a) == text; });
    return found == actions.end() ? nullptr : *found;
}

class CorvaneUITest : public ::testing::Test {
protected:
    CorvaneUITest() {
        ui.setCallbacks({[this](double s) { requested.push_back(s); }, [this] { return status; },
                         [this] { ++quitRequests; }});
    }

    CorvaneStatus status;
    std::vector<double> requested;
    int quitRequests = 0;
    CorvaneUI ui;
};

// In the tray host, the profiles between the separators once each after every update; a left
// click on the item opens the window and a right click the menu.
TEST_F(CorvaneUITest, ItemIsInTheTrayHostWithTheProfilesListedOnceAndClicksOpenTheWindowOrTheMenu) {
    ASSERT_TRUE(QSystemTrayIcon::isSystemTrayAvailable()) << "tests need a tray host (trayer)";
    XKeyboard pointer;
    ASSERT_TRUE(pointer.get()) << "no X display: run inside scripts/with-test-session.sh";
    // Shortcuts are shown the Linux way whichever spelling the file has.
    ui.setupMenubar({RecordItem(30, "Cmd+Shift+1"), RecordItem(90, ""), RecordItem(120, "shift+super+3")});
    ASSERT_TRUE(waitUntil([&] { return !ui.trayIcon()->geometry().isEmpty(); }))
        << "the tray host did not embed the item";
    EXPECT_EQ(menuLines(*ui.menu()),
              (std::vector<std::string>{"Corvane [disabled]", "Preferences & Clips...", "-",
                                        "Save last 30 seconds (Super+Shift+1)", "Save last 1m 30s",
                                        "Save last 2 minutes (Super+Shift+3)", "-",
                                        "Replay Buffer: Idle [disabled]", "Open Clips Folder...",
                                        "Screen Capture Unavailable [disabled] [hidden]", "-",
                                        "Quit Corvane"}));
    ui.updateRecords({RecordItem(45, "Ctrl+Opt+9")});
    ui.updateRecords({RecordItem(45, "Ctrl+Opt+9")});
    const std::vector<std::string> lines = menuLines(*ui.menu());
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 2, lines.begin() + 5),
              (std::vector<std::string>{"-", "Save last 45 seconds (Ctrl+Alt+9)", "-"}));
    EXPECT_EQ(lines.size(), 10u);

    int opened = 0;
    ui.onOpenMainWindow = [&] { ++opened; };
    // The item's geometry is within the tray host's panel (trayer, named "panel"): where that
    // panel is on the screen comes from the X server.
    QProcess xdotool;
    xdotool.start(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--name"),
                                              QStringLiteral("^panel$"), QStringLiteral("getwindowgeometry"),
                                              QStringLiteral("--shell")});
    ASSERT_TRUE(xdotool.waitForFinished(5000));
    QPoint panel;
    for (const QString& line : QString::fromUtf8(xdotool.readAllStandardOutput()).split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("X="))) panel.setX(line.mid(2).toInt());
        if (line.startsWith(QLatin1String("Y="))) panel.setY(line.mid(2).toInt());
    }
    const QPoint centre = panel + ui.trayIcon()->geometry().center();
    serveEvents(300);  // the panel settles its layout after embedding
    pointer.clickAt(centre.x(), centre.y(), 3);
    EXPECT_TRUE(waitUntil([&] { return ui.menu()->isVisible(); })) << "a right click showed no menu";
    EXPECT_EQ(opened, 0);
    ui.menu()->hide();
    serveEvents(100);
    pointer.clickAt(centre.x(), centre.y(), 1);
    EXPECT_TRUE(waitUntil([&] { return opened == 1; }))
        << "a left click at " << centre.x() << "," << centre.y() << " did nothing";
}

TEST_F(CorvaneUITest, StateShowsInBufferLineTooltipAndIconWithPermissionFirstThenSaving) {
    struct Case {
        bool recording, saving, permission;
        const char* bufferLine;
        const char* toolTip;
        TrayIconState icon;
        bool audioLost = false;
    };
    const Case cases[] = {
        {true, false, true, "Replay Buffer: Active (12s ready)", "Corvane - Recording active (12s buffered)",
         TrayIconState::Recording},
        {true, false, true, "Replay Buffer: Active (12s ready, system audio lost)",
         "Corvane - Recording active (12s buffered, system audio lost)", TrayIconState::Recording, true},
        {true, true, true, "Replay Buffer: Active (12s ready)", "Corvane - Saving clip to disk", TrayIconState::Saving},
        {true, true, false, "Replay Buffer: Active (12s ready)", "Corvane - Screen capture unavailable",
         TrayIconState::Unavailable},
        {false, false, true, "Replay Buffer: Idle", "Corvane - Capture stream idle or sleeping", TrayIconState::Idle},
    };
    ui.setupMenubar({});
    status.bufferDurationSeconds = 12.9;
    // A state shows the same icon each time it comes back: Qt's pixmap cache keeps the pictures
    // of every icon drawn, so a fresh one per change (two per save) would pile up there.
    std::map<TrayIconState, qint64> iconOfState;
    for (int round = 0; round < 2; ++round)
    for (const Case& c : cases) {
        status.isRecording = c.recording;
        status.hasPermission = c.permission;
        status.systemAudioLost = c.audioLost;
        ui.setSavingClip(c.saving);
        ui.updateUI();
        EXPECT_TRUE(findAction(*ui.menu(), c.bufferLine)) << c.toolTip;
        EXPECT_EQ(ui.trayIcon()->toolTip(), c.toolTip);
        EXPECT_EQ(ui.iconState(), c.icon) << c.toolTip;
        EXPECT_EQ(findAction(*ui.menu(), "Screen Capture Unavailable")->isVisible(), !c.permission);
        const qint64 icon = ui.trayIcon()->icon().cacheKey();
        EXPECT_EQ(iconOfState.emplace(c.icon, icon).first->second, icon) << c.toolTip;
    }
}

TEST_F(CorvaneUITest, ActionsReachTheirCallbacksAndOpenFolderCreatesTheFolderFirst) {
    ui.setupMenubar({RecordItem(30, "Cmd+Shift+1"), RecordItem(90, "")});
    findAction(*ui.menu(), "Save last 1m 30s")->trigger();
    EXPECT_EQ(requested, std::vector<double>{90.0});
    int opened = 0;
    ui.onOpenMainWindow = [&] { ++opened; };
    findAction(*ui.menu(), "Preferences & Clips...")->trigger();
    EXPECT_EQ(opened, 1);
    findAction(*ui.menu(), "Quit Corvane")->trigger();
    EXPECT_EQ(quitRequests, 1);

    TempDir home;
    ScopedEnv homeEnv("HOME", home.path().string());
    ui.setOutputDir("~/Videos/Corvane");
    std::optional<QString> folder;
    ui.openFolder = [&](const QString& f) { return folder = f, true; };
    findAction(*ui.menu(), "Open Clips Folder...")->trigger();
    const std::filesystem::path expected = home.path() / "Videos/Corvane";
    EXPECT_TRUE(std::filesystem::is_directory(expected));
    EXPECT_EQ(folder.value_or("").toStdString(), expected.string());
}

TEST(TrayIconArt, FindsTheProjectIconOrDrawsOneAndStatesLookDistinct) {
    const QString saved = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(QStringLiteral(CORVANE_SOURCE_DIR "/src")));
    TrayIconArt fromSourceTree;  // "../assets/menubar_icon.png" from src/
    TempDir empty;
    QDir::setCurrent(QString::fromStdString(empty.path().string()));
    TrayIconArt fallback;  // no file anywhere (the test binary has none beside it)
    QDir::setCurrent(saved);
    EXPECT_TRUE(fromSourceTree.source().endsWith(QStringLiteral("assets/menubar_icon.png")));
    for (const TrayIconArt* art : {&fromSourceTree, &fallback}) {
        const auto image = [&](TrayIconState s) { return art->icon(s).pixmap(18, 18).toImage(); };
        EXPECT_FALSE(image(TrayIconState::Recording).isNull());
        EXPECT_NE(image(TrayIconState::Recording), image(TrayIconState::Saving));
        EXPECT_NE(image(TrayIconState::Idle), image(TrayIconState::Unavailable));
    }
}

}  // namespace
}  // namespace corvane::test
