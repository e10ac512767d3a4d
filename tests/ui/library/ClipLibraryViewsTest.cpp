// The library's widgets over the model with faked back ends (real files in a temporary folder).
#include "ui/library/ClipsView.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QMimeData>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTextDocument>
#include <QToolButton>

#include <cstring>

#include <gtest/gtest.h>

#include "support/LibraryRig.h"
#include "support/TempDir.h"
#include "ui/library/ClipListModel.h"
#include "ui/library/PosterView.h"
#include "ui/library/RenameClipSheet.h"
#include "ui/library/SeekSlider.h"
#include "ui/library/TrimClipSheet.h"
#include "ui/library/TrimTimelineBar.h"

namespace corvane {
namespace {

using test::addClip;

// What a rich-text label or alert actually shows.
QString shownText(const QString& markup) {
    QTextDocument doc;
    doc.setHtml(markup);
    return doc.toPlainText();
}

// The push button inside `in` that reads `text`, or null.
QPushButton* buttonWithText(const QWidget* in, const QString& text) {
    for (auto* b : in->findChildren<QPushButton*>())
        if (b->text() == text) return b;
    return nullptr;
}

// Catches what would go to the desktop's default application.
class OpenedUrls : public QObject {
    Q_OBJECT
public:
    OpenedUrls() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "open"); }
    ~OpenedUrls() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls << url; }
};

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
    EXPECT_EQ(list.data(list.index(0), ClipListModel::DurationTextRole).toString(), "Damaged");
    EXPECT_TRUE(list.data(list.index(0), ClipListModel::ThumbnailRole).value<QPixmap>().isNull());
    ASSERT_EQ(rig.model.selectedClip()->name, "broken.mp4");
    EXPECT_TRUE(view.isPreviewShown()) << "its name, Rename and Delete stay reachable";
    EXPECT_TRUE(view.detailsLabel()->text().startsWith("Damaged: this file cannot be played"))
        << view.detailsLabel()->text().toStdString();
    EXPECT_TRUE(view.posterView()->picture().isNull());

    // Shown and hidden with its window: a picture exists only while it can be seen.
    rig.model.selectClip(rig.model.clips()[1]);
    view.show();
    rig.runWorkers();
    ASSERT_FALSE(view.posterView()->picture().isNull());
    EXPECT_EQ(view.posterView()->picture().constBits(), rig.model.poster()->rgb.data()) << "drawn, not copied";
    view.hide();
    EXPECT_TRUE(view.posterView()->picture().isNull());
}

TEST_F(ClipsViewTest, HeaderCountsStorageAndSearchClearing) {
    rig.model.reloadClips();
    EXPECT_TRUE(view.storageLabel()->isHidden());  // no clips: no storage line
    addClip(dir / "one.mp4", 5);
    addClip(dir / "two.mp4", 4);
    addClip(dir / "three.mov", 3);
    rig.model.reloadClips();
    EXPECT_EQ(view.countLabel()->text(), "3 clips");
    EXPECT_EQ(view.storageLabel()->text(), "Clips Storage: 12 bytes");
    view.searchField()->setText("zz");
    EXPECT_EQ(view.countLabel()->text(), "0 of 3");
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
    const qint64 playIcon = view.playPauseButton()->icon().cacheKey();
    view.listView()->setCurrentIndex(list.index(1));
    EXPECT_EQ(rig.model.selectedClip()->name, "old.mp4");
    // The same icon again, not a fresh one whose picture Qt's pixmap cache would keep too.
    EXPECT_EQ(view.playPauseButton()->icon().cacheKey(), playIcon);
    QSignalSpy resets(&list, &QAbstractItemModel::modelReset);
    rig.model.reloadClips();  // updated in place: the list keeps its scroll position
    EXPECT_EQ(resets.count(), 0);
    addClip(dir / "newest.mp4", 0);
    rig.model.reloadClips();
    EXPECT_EQ(view.listView()->currentIndex().row(), 2);
    rig.runWorkers();  // durations and thumbnails arrive as row updates
    // Kept at the size the row draws it, not the library's: a 4:3 picture fits 64x36 as 48x36.
    const QPixmap thumbnail = list.data(list.index(1), ClipListModel::ThumbnailRole).value<QPixmap>();
    EXPECT_EQ(thumbnail.deviceIndependentSize(), QSizeF(48, 36));
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
    EXPECT_EQ(shownText(view.titleLabel()->toolTip()).toStdString(), name);
    view.confirmDelete(rig.model.clips()[0]);
    ASSERT_TRUE(view.deleteAlert());
    EXPECT_EQ(shownText(view.deleteAlert()->text()).toStdString(),
              "Move Clip to Trash?\nAre you sure you want to move '" + name + "' to the Trash?");
    buttonWithText(view.deleteAlert(), "Cancel")->click();
    EXPECT_TRUE(rig.trash.trashed.empty());
    view.confirmDelete(rig.model.clips()[0]);
    buttonWithText(view.deleteAlert(), "Move to Trash")->click();
    EXPECT_EQ(rig.trash.trashed, std::vector<std::string>{(dir / name).string()});
    EXPECT_EQ(rig.model.selectedClip()->name, "b.mp4");

    // A clip that cannot be trashed stays, and the user is told why.
    rig.trash.fail = true;
    view.confirmDelete(rig.model.clips()[0]);
    buttonWithText(view.deleteAlert(), "Move to Trash")->click();
    ASSERT_TRUE(view.trashFailureAlert());
    EXPECT_EQ(shownText(view.trashFailureAlert()->text()).toStdString(),
              "Could Not Move Clip to Trash\n'b.mp4' was not moved to the Trash and is still in its folder: Permission denied");
    EXPECT_EQ(rig.names(), std::vector<std::string>{"b.mp4"});
}

TEST_F(ClipsViewTest, TrimEditorMeasuresAnUnprobedClipOnTheProbeWorker) {
    test::writeTextFile(dir / "new.mp4", std::string(12000, 'x'));  // the fake prober reads 12 s
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
    EXPECT_EQ(sheet->nameField()->text(), "clip");
    sheet->nameField()->setText("   ");
    EXPECT_FALSE(sheet->renameButton()->isEnabled());
    sheet->nameField()->setText("taken");
    sheet->submitRename();
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(sheet->errorLabel()->text(), "A file with this name already exists or is invalid.");
    EXPECT_EQ(sheet->nameField()->text(), "taken");
    sheet->nameField()->setText(" clip ");  // unchanged: closes and renames nothing
    sheet->submitRename();
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_EQ(test::readTextFile(dir / "clip.mp4"), "body");
}

TEST_F(ClipsViewTest, ListKeysActOnTheSelectedClip) {
    addClip(dir / "a.mp4", 1);
    addClip(dir / "b.mp4", 9);
    rig.model.reloadClips();
    view.resize(960, 620);
    view.show();
    view.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
    const std::string b = (dir / "b.mp4").string();
    OpenedUrls opened;
    const struct {
        QKeySequence key;
        std::function<bool()> happened;
        std::function<void()> undo;
    } keys[] = {
        {Qt::Key_Space, [&] { return rig.currentPlayer()->isPlaying(); }, [] {}},
        {Qt::Key_Space, [&] { return rig.currentPlayer()->paused; }, [] {}},
        {Qt::Key_Delete, [&] { return view.deleteAlert() && view.deleteAlert()->isVisible(); },
         [&] { buttonWithText(view.deleteAlert(), "Cancel")->click(); }},
        {Qt::Key_F2, [&] { return view.renameSheet() && view.renameSheet()->isVisible(); },
         [&] { view.renameSheet()->reject(); }},
        {Qt::Key_Return, [&] { return opened.urls == QList<QUrl>{QUrl::fromLocalFile(QString::fromStdString(b))}; },
         [&] { opened.urls.clear(); }},
        {Qt::Key_Enter, [&] { return opened.urls.size() == 1; }, [&] { opened.urls.clear(); }},
        {QKeySequence::Copy, [&] { return QApplication::clipboard()->mimeData()->urls().value(0).toLocalFile().toStdString() == b; },
         [] { QApplication::clipboard()->clear(); }},
    };
    for (const auto& k : keys) {
        const QString name = k.key.toString();
        view.listView()->setCurrentIndex(list.index(list.rowOfPath(b)));
        view.listView()->setFocus();
        QTest::keySequence(view.listView(), k.key);
        EXPECT_TRUE(k.happened()) << name.toStdString();
        k.undo();
    }
    EXPECT_EQ(rig.names(), (std::vector<std::string>{"a.mp4", "b.mp4"}));  // Delete asked, nothing went

    QTest::keySequence(&view, QKeySequence::Find);
    EXPECT_TRUE(view.searchField()->hasFocus());
    QTest::keyClick(view.searchField(), Qt::Key_Space);  // Space in the search field is a space
    EXPECT_EQ(view.searchField()->text(), " ");
    EXPECT_TRUE(rig.currentPlayer()->paused);
}

TEST_F(ClipsViewTest, NothingMatchingSaysSoAndHidesTheSelectedClip) {
    addClip(dir / "keep.mp4", 1);
    rig.model.reloadClips();
    ASSERT_TRUE(view.isPreviewShown());
    rig.model.togglePlayback();
    view.searchField()->setText("zz");
    EXPECT_TRUE(rig.currentPlayer()->paused) << "a hidden clip does not play on unseen";
    EXPECT_TRUE(view.isEmptyStateShown());
    EXPECT_FALSE(view.isPreviewShown()) << "the selected clip is not in the list";
    view.searchField()->clear();
    EXPECT_TRUE(view.isPreviewShown());
}

TEST_F(ClipsViewTest, ClipsDragAndCopyAsFilesNotNames) {
    const std::string name = "a b#%.mp4";  // characters a URL must escape
    addClip(dir / name, 1);
    rig.model.reloadClips();
    const QUrl url = QUrl::fromLocalFile(QString::fromStdString((dir / name).string()));
    EXPECT_TRUE(list.flags(list.index(0)) & Qt::ItemIsDragEnabled);
    std::unique_ptr<QMimeData> dragged(list.mimeData({list.index(0)}));
    view.copyClip(rig.model.clips()[0]);
    const QMimeData* copied = QApplication::clipboard()->mimeData();
    for (const QMimeData* data : {static_cast<const QMimeData*>(dragged.get()), copied}) {
        EXPECT_EQ(data->urls(), QList<QUrl>{url});
        EXPECT_EQ(data->data("x-special/gnome-copied-files"), "copy\n" + url.toEncoded());
    }
    EXPECT_EQ(QString::fromUtf8(url.toEncoded()), "file://" + QString::fromStdString(dir.path().string()) + "/a%20b%23%25.mp4");
}

TEST_F(ClipsViewTest, SeekBarJumpsToAClickAndItsGrooveShowsOnBlack) {
    addClip(dir / "a.mp4", 1, std::string(10000, 'x'));  // 10 s
    rig.model.reloadClips();
    rig.runWorkers();
    view.resize(960, 620);
    view.show();
    SeekSlider* bar = view.seekBar();
    EXPECT_EQ(view.positionLabel()->text(), "0:00 / 0:10") << "the probed length before any player";
    QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(bar->width() * 3 / 4, bar->height() / 2));
    EXPECT_NEAR(rig.currentPlayer()->position, 7.5, 0.6) << "a click jumps, not a page step";

    bar->setValue(0);  // all groove, no played part
    const QImage image = bar->grab().toImage();
    int light = 0;
    const int y = image.height() / 2, from = image.width() / 3, to = image.width() - 10;
    for (int x = from; x < to; ++x) light += qGray(image.pixel(x, y)) > 60;
    EXPECT_GT(light, (to - from) * 9 / 10) << "the groove is drawn light along its length";
}

// A 30 s clip (the fake trimmer writes "cut:ORIGINAL") in an open trim sheet.
class TrimClipSheetTest : public ClipsViewTest {
protected:
    TrimClipSheetTest() {
        test::writeTextFile(dir / "a.mp4", "ORIGINAL");
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
    for (int i = 0; i < 10; ++i) QTest::keyClick(sheet.get(), Qt::Key_Right);
    QTest::keyClick(sheet.get(), Qt::Key_O);
    EXPECT_DOUBLE_EQ(sheet->range().end(), 10.0);
    QTest::keyClick(sheet.get(), Qt::Key_I);  // at the end: the start stays 0.2 before it
    EXPECT_NEAR(sheet->range().start(), 9.8, 1e-9);
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
    EXPECT_EQ(test::readTextFile(dir / "a.mp4"), "ORIGINAL");
    EXPECT_EQ(rig.files.replaceCalls, 0);
    EXPECT_EQ(test::tempTrimFiles(dir.path()), 0);
}

TEST_F(TrimClipSheetTest, ReplaceAsksFirstAndAFailureStaysOpenWithTheError) {
    rig.files.failReplace = true;
    sheet->replaceButton()->click();
    ASSERT_TRUE(sheet->replaceConfirmation());
    EXPECT_EQ(shownText(sheet->replaceConfirmation()->text()),
              "Replace Original Clip?\nThis will overwrite 'a.mp4' with the trimmed version. This action cannot be undone.");
    EXPECT_FALSE(sheet->isExporting());  // nothing happens before confirming
    // Enter takes the safe choice.
    EXPECT_EQ(sheet->replaceConfirmation()->defaultButton(),
              buttonWithText(sheet->replaceConfirmation(), "Cancel"));
    buttonWithText(sheet->replaceConfirmation(), "Replace Original")->click();
    rig.runWorkers();
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(sheet->errorMessage(), QString::fromUtf8(std::strerror(EXDEV)));
    EXPECT_FALSE(sheet->replaceButton()->isHidden());

    sheet->saveAsNewButton()->click();
    rig.runWorkers();
    EXPECT_EQ(sheet->result(), QDialog::Accepted);
    EXPECT_EQ(rig.model.selectedClip()->name, "a_trimmed.mp4");
}

}  // namespace
}  // namespace corvane

#include "ClipLibraryViewsTest.moc"
