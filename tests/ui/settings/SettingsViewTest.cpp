// The settings tab on a real X server: what a user does reaches the model; what the program does
// to fill the tab never saves or restarts capture.
#include "ui/settings/SettingsView.h"

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
#include "support/CaptureFakes.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"
#include "support/TextFiles.h"
#include "ui/keybind/KeybindRecorderView.h"
#include "ui/settings/RecordRowView.h"

namespace corvane {
namespace {

QStringList itemTexts(const QComboBox* combo) {
    QStringList texts;
    for (int i = 0; i < combo->count(); ++i) texts << combo->itemText(i);
    return texts;
}

// Picks an entry the way a user does: focus and arrow keys on the closed picker.
void chooseWithKeys(QComboBox* combo, int index) {
    combo->setFocus();
    for (int guard = 0; guard < 50 && combo->currentIndex() < index; ++guard) QTest::keyClick(combo, Qt::Key_Down);
}

// Replaces a field's text by typing, then Return.
void typeInto(QLineEdit* field, const QString& text) {
    field->setFocus();
    field->selectAll();
    QTest::keyClicks(field, text);
    QTest::keyClick(field, Qt::Key_Return);
}

class SettingsViewTest : public ::testing::Test {
protected:
    SettingsViewTest() {
        sources_.content.displays = {{7, "HDMI-1", 0, 0, 1920, 1080, true}};
        sources_.content.windows = {{0x400001, "Notes", "editor", 0, 0, 1000, 600, 1.0}};
        test::writeTextFile(configPath_, original_);
        model_.setConfigPath(configPath_.string());
        model_.setOnSettingsChanged([this] { ++applied_; });
        model_.load();
        scheduler_.runDue();  // the lists (made on the scheduler here)
        view_.emplace(model_);
        view_->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&*view_));
    }

    test::TempDir dir_;
    const std::filesystem::path configHome_ = dir_ / "config-home";
    // The tab's autostart entry goes here, never into the real ~/.config/autostart.
    test::ScopedEnv configHomeEnv_{"XDG_CONFIG_HOME", configHome_.string()};
    std::filesystem::path configPath_ = dir_ / "config.toml";
    const std::string original_ = "fps = 60\nresolution = \"1080p\"\noutput_dir = \"~/Clips\"\n"
                                  "[[records]]\nduration = 30\nhotkey = \"Cmd+Shift+1\"\n"
                                  "[[records]]\nduration = 600\nhotkey = \"cmd+shift+1 \"\n";
    ManualScheduler scheduler_;
    test::FakeScreen sources_;
    SettingsViewModel model_{scheduler_, &sources_, scheduler_};
    std::optional<SettingsView> view_;
    int applied_ = 0;
};

TEST_F(SettingsViewTest, FillingShowingAndRefreshingTheTabNeverSaves) {
    EXPECT_FALSE(view_->chooseAgainButton()->isVisible() || view_->shortcutsHint()->isVisible());
    QTest::mouseClick(view_->refreshButton(), Qt::LeftButton);
    sources_.content.displays.push_back({9, "DP-1", 1920, 0, 2560, 1440, false});
    model_.handleDisplayConfigurationChanged();
    view_->hide();
    view_->show();
    model_.load();
    scheduler_.advanceBy(std::chrono::seconds(2));
    EXPECT_EQ(test::readTextFile(configPath_), original_);  // so nothing was applied either
    EXPECT_EQ(itemTexts(view_->captureTargetPicker()),
              (QStringList{"Screens", "Primary Display (Default)", "HDMI-1 \u00b7 1920\u00d71080 (Main)",
                           "DP-1 \u00b7 2560\u00d71440", "Applications & Windows", "editor - Notes \u00b7 1000\u00d7600"}));

    test::writeTextFile(configPath_, "fps = \xff\n");  // an unreadable file: the tab says so
    model_.load();
    EXPECT_TRUE(view_->errorLine()->isVisible() && view_->errorLine()->text().startsWith("Could not read "));
}

TEST_F(SettingsViewTest, UserChoicesAreSavedOnceAndAClosedWindowStaysSelected) {
    chooseWithKeys(view_->frameRatePicker(), 2);       // "30 FPS"
    chooseWithKeys(view_->captureTargetPicker(), 4);   // the editor window
    // A window target swaps the resolution entries for the scale ones and resets the preset.
    EXPECT_EQ(itemTexts(view_->resolutionPicker()),
              (QStringList{"100% - Native (1000\u00d7600)", "75% - Balanced (750\u00d7450)", "50% - Light (500\u00d7300)"}));
    QTest::keyClick(view_->playSoundToggle(), Qt::Key_Space);
    typeInto(view_->clipsFolderField(), QStringLiteral("clips"));  // relative: marked, not stored
    EXPECT_TRUE(view_->folderProblem()->isVisible());
    typeInto(view_->clipsFolderField(), QStringLiteral("/tmp/clips"));
    EXPECT_FALSE(view_->folderProblem()->isVisible());
    scheduler_.advanceBy(SettingsViewModel::kAutoSaveDelay);
    EXPECT_EQ(applied_, 1);
    const ConfigReadResult saved = ConfigReader::read(test::readTextFile(configPath_), ConfigReadMode::SettingsModel);
    EXPECT_EQ(std::tuple(saved.fps, saved.windowId, saved.playSound, saved.resolution, saved.outputDir),
              std::tuple(30, 0x400001u, false, std::string("native"), std::string("/tmp/clips")));

    sources_.content.windows.clear();
    model_.handleActiveApplicationChanged();
    scheduler_.runDue();
    EXPECT_EQ(view_->captureTargetPicker()->currentText(), QStringLiteral("Closed Window (4194305)"));
}

TEST_F(SettingsViewTest, ProfileRowsClampMarkDuplicatesAndKeepTheLastOne) {
    const auto& rows = view_->recordRows();
    ASSERT_EQ(rows.size(), 2u);
    for (const auto& [typed, stored] : {std::pair{"3", 5}, {"900", 600}}) {
        typeInto(rows[0]->durationField(), QString::fromLatin1(typed));
        EXPECT_EQ(model_.records()[0].durationSeconds, stored) << typed;
        EXPECT_EQ(rows[0]->durationField()->text(), QString::number(stored));
    }

    // Both rows are marked; recording a new shortcut in one clears the warning.
    auto* recorder = qobject_cast<KeybindRecorderView*>(rows[0]->shortcutField());
    EXPECT_TRUE(view_->duplicateWarning()->isVisible());
    EXPECT_TRUE(qobject_cast<KeybindRecorderView*>(rows[1]->shortcutField())->isDuplicate());
    recorder->startRecording();
    QTest::keyClick(recorder, Qt::Key_F5, Qt::ControlModifier);
    QCoreApplication::processEvents();  // the recorder delivers from the event loop
    EXPECT_EQ(model_.records()[0].hotkey, "Ctrl+F5");
    EXPECT_FALSE(view_->duplicateWarning()->isVisible());

    QTest::mouseClick(rows[1]->deleteButton(), Qt::LeftButton);
    ASSERT_EQ(model_.records().size(), 1u);
    QTest::mouseClick(view_->recordRows()[0]->deleteButton(), Qt::LeftButton);
    EXPECT_EQ(model_.records().size(), 1u);
}

TEST_F(SettingsViewTest, StartAtLoginWritesAndRemovesTheAutostartEntryOnly) {
    const std::filesystem::path entry = configHome_ / "autostart/corvane.desktop";
    QCheckBox* toggle = view_->startAtLoginToggle();
    const QPoint box(6, toggle->height() / 2);  // a check box takes clicks on its box and label
    EXPECT_FALSE(toggle->isChecked());
    QTest::mouseClick(toggle, Qt::LeftButton, {}, box);
    ASSERT_TRUE(std::filesystem::exists(entry));
    EXPECT_TRUE(toggle->isChecked());
    const std::string text = test::readTextFile(entry);
    EXPECT_TRUE(text.starts_with("[Desktop Entry]\nType=Application\nName=Corvane\n")) << text;
    EXPECT_NE(text.find("\nExec=" + QCoreApplication::applicationFilePath().toStdString() + "\n"),
              std::string::npos) << text;
    EXPECT_NE(text.find("\nIcon=corvane\n"), std::string::npos) << text;
    QTest::mouseClick(toggle, Qt::LeftButton, {}, box);
    EXPECT_FALSE(std::filesystem::exists(entry));
    EXPECT_FALSE(toggle->isChecked());
    scheduler_.advanceBy(std::chrono::seconds(2));
    EXPECT_EQ(test::readTextFile(configPath_), original_);
    EXPECT_EQ(applied_, 0);

    test::writeTextFile(entry, "[Desktop Entry]\nExec=corvane\n");
    view_->hide();
    view_->show();
    EXPECT_TRUE(toggle->isChecked());
}

TEST(SettingsViewSystemDialogTest, ShowsTheDialogsChoiceChoosesAgainAndTellsHowToBindKeys) {
    ManualScheduler scheduler;
    test::FakeScreen sources;
    int choseAgain = 0;
    SettingsViewModel model(scheduler, &sources, scheduler,
                            {CaptureTargetKind::systemDialog, [&] { ++choseAgain; }, true});
    SettingsView view(model);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    EXPECT_FALSE(view.captureTargetPicker()->isVisible() || view.refreshButton()->isVisible());
    EXPECT_EQ(view.systemDialogTarget()->text(), QStringLiteral("The screen or window chosen in the system dialog"));
    QTest::mouseClick(view.chooseAgainButton(), Qt::LeftButton);
    EXPECT_EQ(choseAgain, 1);
    EXPECT_TRUE(view.shortcutsHint()->isVisible());
    EXPECT_TRUE(view.shortcutsHint()->text().contains(QStringLiteral("`corvane --save 30`")));
}

}  // namespace
}  // namespace corvane
