#include "ui/library/TrimClipSheet.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>

#include <cstring>

#include <gtest/gtest.h>

#include "core/library/LibraryFakes.h"
#include "support/TempDir.h"
#include "ui/library/TrimTimelineBar.h"

namespace corvane {
namespace {

using test::LibraryRig;

class TrimClipSheetTest : public ::testing::Test {
protected:
    TrimClipSheetTest() {
        test::writeFile(dir / "a.mp4", "ORIGINAL");
        rig.model.reloadClips();
        clip = rig.model.clips()[0];
        clip.durationSeconds = 30;
    }
    int tempFiles() const {
        int n = 0;
        for (const auto& e : std::filesystem::directory_iterator(dir.path()))
            n += e.path().filename().string().rfind(".tmp_trim_", 0) == 0;
        return n;
    }
    test::TempDir dir;
    LibraryRig rig{dir.path()};
    ClipItem clip;
};

TEST_F(TrimClipSheetTest, KeysMoveThePlayheadAndTheRange) {
    TrimClipSheet sheet(clip, rig.model, rig.scheduler);
    EXPECT_EQ(sheet.timeText(), "0:00.0 / 0:30.0");
    for (int i = 0; i < 10; ++i) QTest::keyClick(&sheet, Qt::Key_Right);
    QTest::keyClick(&sheet, Qt::Key_O);
    EXPECT_DOUBLE_EQ(sheet.range().end(), 10.0);
    QTest::keyClick(&sheet, Qt::Key_I);  // at the end: the start stays 0.2 before it
    EXPECT_NEAR(sheet.range().start(), 9.8, 1e-9);
    EXPECT_EQ(sheet.durationBadgeText(), "Duration: 0.2s");
    QTest::keyClick(&sheet, Qt::Key_Left);
    EXPECT_EQ(sheet.timeText(), "0:09.0 / 0:30.0");
    QTest::keyClick(&sheet, Qt::Key_Space);  // outside the range: jumps to its start first
    EXPECT_NEAR(sheet.range().current(), 9.8, 1e-9);
    EXPECT_TRUE(sheet.isPlaying());
    QTest::keyClick(&sheet, Qt::Key_Space);
    EXPECT_FALSE(sheet.isPlaying());
    sheet.show();
    QTest::keyClick(&sheet, Qt::Key_Escape);
    EXPECT_FALSE(sheet.isVisible());
    EXPECT_EQ(sheet.player(), nullptr);  // torn down on close
}

TEST_F(TrimClipSheetTest, DraggingHandlesKeepsTheMinimumLength) {
    TrimClipSheet sheet(clip, rig.model, rig.scheduler);
    sheet.resize(720, 600);
    sheet.show();
    TrimTimelineBar* bar = sheet.timeline();
    auto drag = [&](double fromT, double toT) {
        const QPointF from(bar->xOf(fromT) + (fromT == 0 ? 3 : -3), 18);
        const QPointF to(bar->xOf(toT), 18);
        QMouseEvent press(QEvent::MouseButtonPress, from, bar->mapToGlobal(from), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QMouseEvent move(QEvent::MouseMove, to, bar->mapToGlobal(to), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, to, bar->mapToGlobal(to), Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(bar, &press);
        QApplication::sendEvent(bar, &move);
        QApplication::sendEvent(bar, &release);
    };
    drag(30, 12);  // end handle
    EXPECT_NEAR(sheet.range().end(), 12.0, 0.1);
    drag(0, 20);   // start handle pushed past the end stops 0.2 before it
    EXPECT_NEAR(sheet.range().start(), sheet.range().end() - 0.2, 1e-9);
    EXPECT_NEAR(sheet.range().current(), sheet.range().start(), 1e-9);  // preview shows the handle's frame
    sheet.reject();
}

TEST_F(TrimClipSheetTest, CancellingDuringExportReplacesNothing) {
    auto* sheet = new TrimClipSheet(clip, rig.model, rig.scheduler);
    sheet->show();
    sheet->executeTrim(false);
    EXPECT_TRUE(sheet->isExporting());
    EXPECT_TRUE(sheet->replaceButton()->isHidden());
    EXPECT_TRUE(sheet->saveAsNewButton()->isHidden());
    rig.trimWorker.runDue();  // the cut is done, its result not yet delivered
    QTest::keyClick(sheet, Qt::Key_Escape);
    delete sheet;  // the dialog is gone before the result arrives
    rig.runWorkers();
    EXPECT_EQ(test::readFile(dir / "a.mp4"), "ORIGINAL");
    EXPECT_EQ(rig.files.replaceCalls, 0);
    EXPECT_EQ(tempFiles(), 0);
    EXPECT_EQ(rig.model.clips().size(), 1u);
}

TEST_F(TrimClipSheetTest, FailureStaysOpenWithTheErrorSuccessCloses) {
    TrimClipSheet sheet(clip, rig.model, rig.scheduler);
    sheet.show();
    rig.files.failReplace = true;
    sheet.executeTrim(false);
    rig.runWorkers();
    EXPECT_TRUE(sheet.isVisible());
    EXPECT_FALSE(sheet.isExporting());
    EXPECT_EQ(sheet.errorMessage(), QString::fromUtf8(std::strerror(EXDEV)));
    EXPECT_FALSE(sheet.replaceButton()->isHidden());

    sheet.saveAsNewButton()->click();
    rig.runWorkers();
    EXPECT_FALSE(sheet.isVisible());
    EXPECT_EQ(sheet.result(), QDialog::Accepted);
    EXPECT_EQ(rig.model.selectedClip()->name, "a_trimmed.mp4");
}

TEST_F(TrimClipSheetTest, ReplaceAsksFirst) {
    TrimClipSheet sheet(clip, rig.model, rig.scheduler);
    sheet.show();
    sheet.replaceButton()->click();
    ASSERT_TRUE(sheet.replaceConfirmation());
    EXPECT_TRUE(sheet.replaceConfirmation()->text().contains("This will overwrite &#x27;a.mp4&#x27;") ||
                sheet.replaceConfirmation()->text().contains("This will overwrite 'a.mp4'"));
    QPushButton* confirm = nullptr;
    for (auto* b : sheet.replaceConfirmation()->findChildren<QPushButton*>())
        if (b->text() == "Replace Original") confirm = b;
    ASSERT_TRUE(confirm);
    EXPECT_FALSE(sheet.isExporting());  // nothing happens before confirming
    EXPECT_TRUE(sheet.player());        // another window (the alert) opening leaves the preview alone
    confirm->click();
    rig.runWorkers();
    EXPECT_EQ(test::readFile(dir / "a.mp4"), "cut:ORIGINAL");
}

}  // namespace
}  // namespace corvane
