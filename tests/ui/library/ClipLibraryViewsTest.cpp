// The library's widgets over the model with faked back ends (real files in a temporary folder).
#include "ui/library/ClipsView.h"

#include <QAbstractItemModelTester>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <cstring>

#include <gtest/gtest.h>

#include "support/LibraryRig.h"
#include "support/LibraryWidgetHelpers.h"
#include "support/TempDir.h"
#include "ui/library/ClipListModel.h"
#include "ui/library/RenameClipSheet.h"
#include "ui/library/TrimClipSheet.h"
#include "ui/library/TrimTimelineBar.h"

namespace corvane {
namespace {

using test::addClip;

// The list and detail view over a model of files in a temporary folder.
class ClipsViewTest : public ::testing::Test {
protected:
    test::TempDir dir;
    test::LibraryRig rig{dir.path()};
    ClipListModel list{rig.model};
    QAbstractItemModelTester tester{&list, QAbstractItemModelTester::FailureReportingMode::Fatal};
    ClipsView view{list, rig.scheduler};
};

TEST_F(ClipsViewTest, ADamagedClipSaysSoInItsRowAndPreviewAndShowsNoPicture) {
    addClip(dir / "broken.mp4", 5, "XXXX");
    addClip(dir / "fine.mp4", 50);
    rig.model.reloadClips();
    rig.runWorkers();
    const QModelIndex broken = list.index(0), fine = list.index(1);
    EXPECT_EQ(list.data(broken, ClipListModel::DurationTextRole).toString(), "Damaged");
    EXPECT_TRUE(list.data(broken, ClipListModel::ThumbnailRole).value<QPixmap>().isNull());
    EXPECT_EQ(list.data(fine, ClipListModel::DurationTextRole).toString(), "0:00");
    EXPECT_FALSE(list.data(fine, ClipListModel::ThumbnailRole).value<QPixmap>().isNull());
    ASSERT_EQ(rig.model.selectedClip()->name, "broken.mp4");
    EXPECT_TRUE(view.isPreviewShown()) << "its name, Rename and Delete stay reachable";
    EXPECT_TRUE(view.detailsLabel()->text().startsWith("Damaged: this file cannot be played"))
        << view.detailsLabel()->text().toStdString();

    // Shown and hidden with its window: a player exists only while it can be seen.
    rig.model.selectClip(rig.model.clips()[1]);
    view.show();
    EXPECT_TRUE(rig.model.player());
    view.hide();
    EXPECT_FALSE(rig.model.player());
    view.show();
    EXPECT_TRUE(rig.model.player());
}

TEST_F(ClipsViewTest, HeaderCountsStorageAndSearchClearing) {
    rig.model.reloadClips();
    EXPECT_TRUE(view.storageLabel()->isHidden());  // no clips: no storage line
    addClip(dir / "only.mp4", 5);
    rig.model.reloadClips();
    EXPECT_EQ(view.countLabel()->text(), "1 clip");
    rig.model.selectClip(std::nullopt);
    EXPECT_FALSE(view.isPreviewShown());
    EXPECT_EQ(view.storageLabel()->text(), "Clips Storage: 4 bytes");
    addClip(dir / "two.mp4", 4);
    addClip(dir / "three.mov", 3);
    rig.model.reloadClips();
    EXPECT_EQ(view.countLabel()->text(), "3 clips");
    EXPECT_EQ(view.totalSizeLabel()->text(), "12 bytes");

    view.searchField()->setText("zz");
    EXPECT_EQ(view.countLabel()->text(), "0 of 3");
    EXPECT_TRUE(view.isEmptyStateShown());
    view.searchField()->setText(" ");  // a space is text: the clear button shows, all clips match
    EXPECT_FALSE(view.clearSearchButton()->isHidden());
    EXPECT_EQ(view.countLabel()->text(), "3 of 3");
    view.clearSearchButton()->click();
    EXPECT_EQ(view.countLabel()->text(), "3 clips");
}

TEST_F(ClipsViewTest, RowAndModelSelectionFollowEachOtherAcrossReloads) {
    addClip(dir / "new.mp4", 1);
    addClip(dir / "old.mp4", 9);
    rig.model.reloadClips();
    view.listView()->setCurrentIndex(list.index(1));
    EXPECT_EQ(rig.model.selectedClip()->name, "old.mp4");
    QSignalSpy resets(&list, &QAbstractItemModel::modelReset);
    rig.model.reloadClips();  // updated in place: the list keeps its scroll position
    EXPECT_EQ(resets.count(), 0);
    addClip(dir / "newest.mp4", 0);
    rig.model.reloadClips();
    EXPECT_EQ(view.listView()->currentIndex().row(), 2);
    rig.runWorkers();  // durations and thumbnails arrive as row updates
    EXPECT_FALSE(list.data(list.index(1), ClipListModel::ThumbnailRole).value<QPixmap>().isNull());
    // Hours and minutes in the user's style, never seconds.
    const QString date = list.data(list.index(0), ClipListModel::DateTextRole).toString();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^(Today|Yesterday), \\d{1,2}[:.]\\d\\d( ?[AaPp]\\.?[Mm]\\.?)?$")).match(date).hasMatch())
        << date.toStdString();
}

TEST_F(ClipsViewTest, FileNamesShowAsWrittenAndTrashingAsksFirst) {
    const std::string name = "<b>x<i> &amp; y.mp4";  // no "/": that cannot be in a file name
    addClip(dir / name, 1);
    addClip(dir / "b.mp4", 9);
    rig.model.reloadClips();
    EXPECT_EQ(list.data(list.index(0), Qt::DisplayRole).toString().toStdString(), name);
    EXPECT_EQ(view.titleLabel()->textFormat(), Qt::PlainText);
    EXPECT_EQ(view.titleLabel()->text().toStdString(), name);
    EXPECT_EQ(test::shownText(view.titleLabel()->toolTip()).toStdString(), name);
    view.showRename(rig.model.clips()[0]);
    EXPECT_EQ(view.renameSheet()->nameField()->text().toStdString(), "<b>x<i> &amp; y");
    view.renameSheet()->reject();

    view.confirmDelete(rig.model.clips()[0]);
    ASSERT_TRUE(view.deleteAlert());
    EXPECT_EQ(test::shownText(view.deleteAlert()->text()).toStdString(),
              "Move Clip to Trash?\nAre you sure you want to move '" + name + "' to the Trash?");
    test::buttonWithText(view.deleteAlert(), "Cancel")->click();
    EXPECT_TRUE(rig.trash.trashed.empty());
    view.confirmDelete(rig.model.clips()[0]);
    test::buttonWithText(view.deleteAlert(), "Move to Trash")->click();
    EXPECT_EQ(rig.trash.trashed, std::vector<std::string>{(dir / name).string()});
    EXPECT_EQ(rig.model.selectedClip()->name, "b.mp4");

    // A clip that cannot be trashed stays, and the user is told why.
    rig.trash.fail = true;
    view.confirmDelete(rig.model.clips()[0]);
    test::buttonWithText(view.deleteAlert(), "Move to Trash")->click();
    ASSERT_TRUE(view.trashFailureAlert());
    EXPECT_EQ(test::shownText(view.trashFailureAlert()->text()).toStdString(),
              "Could Not Move Clip to Trash\n'b.mp4' was not moved to the Trash and is still in its folder: Permission denied");
    EXPECT_EQ(rig.names(), std::vector<std::string>{"b.mp4"});
}

TEST_F(ClipsViewTest, TrimEditorMeasuresAnUnprobedClipOnTheProbeWorker) {
    test::writeFile(dir / "new.mp4", std::string(12000, 'x'));  // the fake prober reads 12 s
    rig.model.reloadClips();
    TrimClipSheet sheet(rig.model.clips()[0], rig.model, rig.scheduler);
    EXPECT_FALSE(sheet.isDurationKnown());
    EXPECT_FALSE(sheet.saveAsNewButton()->isEnabled());
    EXPECT_TRUE(rig.prober.probed.empty());  // nothing is read on the main thread
    rig.runWorkers();
    EXPECT_TRUE(sheet.isDurationKnown());
    EXPECT_TRUE(sheet.saveAsNewButton()->isEnabled());
    EXPECT_DOUBLE_EQ(sheet.range().duration(), 12.0);
    EXPECT_EQ(rig.prober.probed.size(), 1u);  // the listing's request and the editor's are one probe
}

TEST_F(ClipsViewTest, RenameDialogStaysOpenWithTheReasonOnRefusal) {
    addClip(dir / "clip.mp4", 1, "body");
    addClip(dir / "taken.mp4", 9);
    rig.model.reloadClips();
    view.showRename(rig.model.clips()[0]);
    RenameClipSheet* sheet = view.renameSheet();
    ASSERT_TRUE(sheet);
    sheet->nameField()->setText("   ");
    EXPECT_FALSE(sheet->renameButton()->isEnabled());
    for (const char* refused : {"taken", ".hidden"}) {
        sheet->nameField()->setText(refused);
        sheet->submitRename();
        EXPECT_TRUE(sheet->isVisible()) << refused;
        EXPECT_EQ(sheet->errorLabel()->text(), "A file with this name already exists or is invalid.");
        EXPECT_EQ(sheet->nameField()->text(), refused);
    }
    sheet->nameField()->setText(" clip ");  // unchanged: closes and renames nothing
    sheet->submitRename();
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_EQ(test::readFile(dir / "clip.mp4"), "body");
}

// A 30 s clip (the fake trimmer writes "cut:ORIGINAL") in an open trim sheet.
class TrimClipSheetTest : public ClipsViewTest {
protected:
    TrimClipSheetTest() {
        test::writeFile(dir / "a.mp4", "ORIGINAL");
        rig.model.reloadClips();
        ClipItem clip = rig.model.clips()[0];
        clip.durationSeconds = 30;
        sheet = std::make_unique<TrimClipSheet>(clip, rig.model, rig.scheduler);
        sheet->resize(720, 600);
        sheet->show();
    }
    // Presses next to the handle at `fromT` and drags it to `toT`.
    void drag(double fromT, double toT) {
        TrimTimelineBar* bar = sheet->timeline();
        const QPoint to(qRound(bar->xOf(toT)), 18);
        QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(qRound(bar->xOf(fromT)) + (fromT == 0 ? 3 : -3), 18));
        QTest::mouseMove(bar, to);
        QTest::mouseRelease(bar, Qt::LeftButton, {}, to);
    }
    std::unique_ptr<TrimClipSheet> sheet;
};

TEST_F(TrimClipSheetTest, KeysMoveThePlayheadAndTheRange) {
    EXPECT_EQ(sheet->timeText(), "0:00.0 / 0:30.0");
    for (int i = 0; i < 10; ++i) QTest::keyClick(sheet.get(), Qt::Key_Right);
    QTest::keyClick(sheet.get(), Qt::Key_O);
    EXPECT_DOUBLE_EQ(sheet->range().end(), 10.0);
    QTest::keyClick(sheet.get(), Qt::Key_I);  // at the end: the start stays 0.2 before it
    EXPECT_NEAR(sheet->range().start(), 9.8, 1e-9);
    EXPECT_EQ(sheet->durationBadgeText(), "Duration: 0.2s");
    QTest::keyClick(sheet.get(), Qt::Key_Left);
    EXPECT_EQ(sheet->timeText(), "0:09.0 / 0:30.0");
    QTest::keyClick(sheet.get(), Qt::Key_Space);  // outside the range: jumps to its start first
    EXPECT_NEAR(sheet->range().current(), 9.8, 1e-9);
    EXPECT_TRUE(sheet->isPlaying());
    QTest::keyClick(sheet.get(), Qt::Key_Space);
    EXPECT_FALSE(sheet->isPlaying());
    QTest::keyClick(sheet.get(), Qt::Key_Escape);
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_EQ(sheet->player(), nullptr);  // torn down on close
}

TEST_F(TrimClipSheetTest, DraggingHandlesKeepsTheMinimumLength) {
    drag(30, 12);  // end handle
    EXPECT_NEAR(sheet->range().end(), 12.0, 0.1);
    drag(0, 20);  // start handle pushed past the end stops 0.2 before it
    EXPECT_NEAR(sheet->range().start(), sheet->range().end() - 0.2, 1e-9);
}

TEST_F(TrimClipSheetTest, ClosingDuringExportReplacesNothing) {
    sheet->executeTrim(false);
    EXPECT_TRUE(sheet->replaceButton()->isHidden());  // exporting
    rig.trimWorker.runDue();  // the cut is done, its result not yet delivered
    QTest::keyClick(sheet.get(), Qt::Key_Escape);
    sheet.reset();  // the dialog is gone before the result arrives
    rig.runWorkers();
    EXPECT_EQ(test::readFile(dir / "a.mp4"), "ORIGINAL");
    EXPECT_EQ(rig.files.replaceCalls, 0);
}

TEST_F(TrimClipSheetTest, ReplaceAsksFirstAndAFailureStaysOpenWithTheError) {
    rig.files.failReplace = true;
    sheet->replaceButton()->click();
    ASSERT_TRUE(sheet->replaceConfirmation());
    EXPECT_EQ(test::shownText(sheet->replaceConfirmation()->text()),
              "Replace Original Clip?\nThis will overwrite 'a.mp4' with the trimmed version. This action cannot be undone.");
    EXPECT_FALSE(sheet->isExporting());  // nothing happens before confirming
    EXPECT_TRUE(sheet->player());        // the alert opening leaves the preview alone
    // Enter takes the safe choice.
    EXPECT_EQ(sheet->replaceConfirmation()->defaultButton(),
              test::buttonWithText(sheet->replaceConfirmation(), "Cancel"));
    test::buttonWithText(sheet->replaceConfirmation(), "Replace Original")->click();
    rig.runWorkers();
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(sheet->errorMessage(), QString::fromUtf8(std::strerror(EXDEV)));
    EXPECT_FALSE(sheet->replaceButton()->isHidden());
    EXPECT_EQ(test::readFile(dir / "a.mp4"), "ORIGINAL");

    sheet->saveAsNewButton()->click();
    rig.runWorkers();
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_EQ(sheet->result(), QDialog::Accepted);
    EXPECT_EQ(rig.model.selectedClip()->name, "a_trimmed.mp4");
}

}  // namespace
}  // namespace corvane
