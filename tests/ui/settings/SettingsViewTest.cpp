// The settings tab on a real X server: what a user does reaches the model; what the program does
// to fill the tab never saves or restarts capture.
#include "ui/settings/SettingsView.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include "core/config/ConfigReader.h"
#include "core/sched/ManualScheduler.h"
#include "core/settings/FakeCaptureSources.h"
#include "platform/x11/X11ScreenCapture.h"
#include "support/TempDir.h"
#include "ui/keybind/KeybindRecorderView.h"
#include "ui/settings/RecordRowView.h"

namespace corvane {
namespace {

using namespace std::chrono_literals;

std::string readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

QStringList itemTexts(const QComboBox* combo) {
    QStringList texts;
    for (int i = 0; i < combo->count(); ++i) texts << combo->itemText(i);
    return texts;
}

// Picks an entry the way a user does: focus and arrow keys on the closed picker.
void chooseWithKeys(QComboBox* combo, int index) {
    ASSERT_LT(index, combo->count());
    combo->setFocus();
    for (int guard = 0; guard < 50 && combo->currentIndex() < index; ++guard) QTest::keyClick(combo, Qt::Key_Down);
    for (int guard = 0; guard < 50 && combo->currentIndex() > index; ++guard) QTest::keyClick(combo, Qt::Key_Up);
    ASSERT_EQ(combo->currentIndex(), index);
}

class SettingsViewTest : public ::testing::Test {
protected:
    SettingsViewTest() {
        sources_.content.displays = {{7, "HDMI-1", 0, 0, 1920, 1080, true}};
        sources_.content.windows = {{0x400001, "Notes", "editor", 0, 0, 1000, 600, 1.0}};
        std::ofstream(configPath_) << "fps = 60\nresolution = \"1080p\"\noutput_dir = \"~/Clips\"\n"
                                      "[[records]]\nduration = 30\nhotkey = \"Cmd+Shift+1\"\n"
                                      "[[records]]\nduration = 600\nhotkey = \"cmd+shift+1 \"\n";
        original_ = readFile(configPath_);
        model_.setConfigPath(configPath_.string());
        model_.setOnSettingsChanged([this] { ++applied_; });
        model_.load();
        view_ = std::make_unique<SettingsView>(model_);
        view_->resize(800, 900);
    }

    void showView() {
        view_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(view_.get()));
    }

    // Time passes; nothing may have been written or applied.
    void expectNothingSaved() {
        EXPECT_FALSE(model_.hasPendingSave());
        scheduler_.advanceBy(2s);
        EXPECT_EQ(readFile(configPath_), original_);
        EXPECT_EQ(applied_, 0);
    }

    test::TempDir dir_;
    std::filesystem::path configPath_ = dir_ / "config.toml";
    std::string original_;
    ManualScheduler scheduler_;
    test::FakeCaptureSources sources_;
    SettingsViewModel model_{scheduler_, &sources_};
    std::unique_ptr<SettingsView> view_;
    int applied_ = 0;
};

TEST_F(SettingsViewTest, ShowingRefreshingAndListChangesNeverSave) {
    showView();
    QTest::mouseClick(view_->refreshButton(), Qt::LeftButton);
    sources_.content.windows.push_back({0x600003, "Terminal", "xterm", 0, 0, 640, 480, 1.0});
    sources_.content.displays.push_back({9, "DP-1", 1920, 0, 2560, 1440, false});
    model_.handleDisplayConfigurationChanged();
    view_->hide();
    view_->show();  // the tab appears again
    model_.load();
    expectNothingSaved();

    EXPECT_EQ(view_->frameRatePicker()->currentText(), QStringLiteral("60 FPS"));
    EXPECT_EQ(view_->resolutionPicker()->currentText(), QStringLiteral("1080p (1920x1080)"));
    EXPECT_EQ(view_->clipsFolderField()->text(), QStringLiteral("~/Clips"));
    EXPECT_EQ(itemTexts(view_->captureTargetPicker()),
              (QStringList{"Screens", "Primary Display (Default)", "HDMI-1 \u00b7 1920\u00d71080 (Main)",
                           "DP-1 \u00b7 2560\u00d71440", "Applications & Windows", "editor - Notes \u00b7 1000\u00d7600",
                           "xterm - Terminal \u00b7 640\u00d7480"}));
    EXPECT_EQ(view_->captureTargetPicker()->currentText(), QStringLiteral("Primary Display (Default)"));
}

TEST_F(SettingsViewTest, UserChoicesReachTheModelAndAreSavedOnce) {
    showView();
    chooseWithKeys(view_->frameRatePicker(), 2);  // "30 FPS"
    chooseWithKeys(view_->captureTargetPicker(), 4);  // the editor window
    EXPECT_EQ(model_.fps(), 30);
    EXPECT_EQ(model_.windowId(), 0x400001u);
    // A window target swaps the resolution entries for the scale ones and resets the preset.
    EXPECT_EQ(itemTexts(view_->resolutionPicker()),
              (QStringList{"100% - Native (1000\u00d7600)", "75% - Balanced (750\u00d7450)",
                           "50% - Light (500\u00d7300)"}));
    EXPECT_EQ(model_.resolution(), "native");
    view_->playSoundToggle()->setFocus();
    QTest::keyClick(view_->playSoundToggle(), Qt::Key_Space);
    EXPECT_FALSE(model_.playSound());

    scheduler_.advanceBy(350ms);
    EXPECT_EQ(applied_, 1);
    const ConfigReadResult saved = ConfigReader::read(readFile(configPath_), ConfigReadMode::SettingsModel);
    EXPECT_EQ(saved.fps, 30);
    EXPECT_EQ(saved.windowId, 0x400001u);
    EXPECT_EQ(saved.playSound, false);
    EXPECT_EQ(view_->estimatedSizeLabel()->text().toStdString(), model_.estimatedSize30sDescription());
}

TEST_F(SettingsViewTest, ClosedWindowStaysSelectedUnderItsOwnLabel) {
    chooseWithKeys(view_->captureTargetPicker(), 4);  // the editor window (before showing)
    ASSERT_EQ(model_.windowId(), 0x400001u);
    sources_.content.windows.clear();
    model_.handleActiveApplicationChanged();
    QComboBox* picker = view_->captureTargetPicker();
    EXPECT_EQ(picker->itemText(picker->count() - 1), QStringLiteral("Closed Window (4194305)"));
    EXPECT_EQ(picker->currentIndex(), picker->count() - 1);
    EXPECT_TRUE(itemTexts(picker).contains(QStringLiteral("No open application windows")));
}

TEST_F(SettingsViewTest, ProfileRowsClampMarkDuplicatesAndKeepTheLastOne) {
    showView();
    const auto& rows = view_->recordRows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_TRUE(view_->duplicateWarning()->isVisible());
    EXPECT_EQ(view_->frameRatePicker()->count(), 4);

    QLineEdit* field = rows[0]->durationField();
    const std::pair<const char*, int64_t> typed[] = {{"3", 5}, {"900", 600}, {"45", 45}};
    for (const auto& [text, stored] : typed) {
        field->setFocus();
        field->selectAll();
        QTest::keyClicks(field, QString::fromLatin1(text));
        QTest::keyClick(field, Qt::Key_Return);
        EXPECT_EQ(model_.records()[0].durationSeconds, stored) << text;
        EXPECT_EQ(field->text(), QString::number(stored));
    }
    QTest::mouseClick(rows[1]->stepUpButton(), Qt::LeftButton);  // already 600
    EXPECT_EQ(model_.records()[1].durationSeconds, 600);
    QTest::mouseClick(rows[1]->stepDownButton(), Qt::LeftButton);
    EXPECT_EQ(model_.records()[1].durationSeconds, 595);

    // Both duplicate rows are marked; recording a new shortcut in one clears the warning.
    auto* recorder = qobject_cast<KeybindRecorderView*>(rows[0]->shortcutField());
    ASSERT_NE(recorder, nullptr);
    EXPECT_TRUE(recorder->isDuplicate());
    EXPECT_TRUE(qobject_cast<KeybindRecorderView*>(rows[1]->shortcutField())->isDuplicate());
    recorder->startRecording();
    QTest::keyClick(recorder, Qt::Key_F5, Qt::ControlModifier);
    QCoreApplication::processEvents();  // the recorder delivers from the event loop
    EXPECT_EQ(model_.records()[0].hotkey, "Ctrl+F5");
    EXPECT_FALSE(recorder->isDuplicate());
    EXPECT_FALSE(view_->duplicateWarning()->isVisible());

    QTest::mouseClick(rows[1]->deleteButton(), Qt::LeftButton);
    ASSERT_EQ(model_.records().size(), 1u);
    EXPECT_FALSE(view_->duplicateWarning()->isVisible());
    RecordRowView* last = view_->recordRows()[0];
    EXPECT_FALSE(last->deleteButton()->property("canDelete").toBool());
    QTest::mouseClick(last->deleteButton(), Qt::LeftButton);
    EXPECT_EQ(model_.records().size(), 1u);

    QTest::mouseClick(view_->addShortcutButton(), Qt::LeftButton);
    ASSERT_EQ(view_->recordRows().size(), 2u);
    EXPECT_EQ(model_.records()[1].durationSeconds, 75);
}

TEST_F(SettingsViewTest, UnstorableFolderIsMarkedAndProblemsAreShown) {
    showView();
    QLineEdit* folder = view_->clipsFolderField();
    folder->setFocus();
    folder->selectAll();
    QTest::keyClicks(folder, QStringLiteral("clips"));
    EXPECT_TRUE(view_->folderProblem()->isVisible());
    EXPECT_TRUE(folder->property("invalid").toBool());
    QTest::keyClick(folder, Qt::Key_Home);
    QTest::keyClicks(folder, QStringLiteral("/tmp/"));
    EXPECT_EQ(model_.outputDir(), "/tmp/clips");
    EXPECT_FALSE(view_->folderProblem()->isVisible());

    // An unreadable file: the tab says so.
    scheduler_.advanceBy(350ms);
    std::ofstream(configPath_, std::ios::trunc) << "fps = \xff\n";
    model_.load();
    EXPECT_TRUE(view_->errorLine()->isVisible());
    EXPECT_TRUE(view_->errorLine()->text().startsWith(QStringLiteral("Could not read ")));
}

// The real X11 listing: the Xvfb screen shows up as the main display with its real size.
TEST(SettingsViewRealDisplayTest, ListsTheXvfbScreen) {
    X11ScreenCaptureBackend x11;
    ASSERT_TRUE(x11.isAvailable());
    ManualScheduler scheduler;
    SettingsViewModel model(scheduler, &x11);
    SettingsView view(model);
    ASSERT_FALSE(model.availableDisplays().empty());
    const DisplayItem& main = model.availableDisplays().front();
    EXPECT_TRUE(main.isMain);
    EXPECT_GE(main.pixelWidth, 640);
    EXPECT_EQ(model.nativeResolutionLabel(),
              "Native Display (" + std::to_string(main.pixelWidth) + "x" + std::to_string(main.pixelHeight) + ")");
    EXPECT_TRUE(itemTexts(view.captureTargetPicker()).contains(QString::fromStdString(main.displayName())));
}

}  // namespace
}  // namespace corvane
