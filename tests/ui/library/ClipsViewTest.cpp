#include "ui/library/ClipsView.h"

#include <QAbstractItemModelTester>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTextDocument>
#include <QToolButton>

#include <gtest/gtest.h>

#include "core/library/LibraryFakes.h"
#include "support/TempDir.h"
#include "ui/library/ClipListModel.h"
#include "ui/library/RenameClipSheet.h"

namespace corvane {
namespace {

using test::LibraryRig;
using test::writeFile;

QString shownText(const QString& markup) {
    QTextDocument doc;
    doc.setHtml(markup);
    return doc.toPlainText();
}

class ClipsViewTest : public ::testing::Test {
protected:
    void addClip(const std::string& name, int secondsAgo, const std::string& body = "clip") {
        writeFile(dir / name, body);
        test::setAge(dir / name, secondsAgo);
    }
    void reload() { rig.model.reloadClips(); }
    QPushButton* button(QWidget* in, const QString& text) {
        for (auto* b : in->findChildren<QPushButton*>())
            if (b->text() == text) return b;
        return nullptr;
    }

    test::TempDir dir;
    LibraryRig rig{dir.path()};
    ClipListModel list{rig.model};
    QAbstractItemModelTester tester{&list, QAbstractItemModelTester::FailureReportingMode::Fatal};
    ClipsView view{list, rig.scheduler};
};

TEST_F(ClipsViewTest, HeaderCountsEmptyStateAndSearchClearing) {
    addClip("only.mp4", 5);
    reload();
    EXPECT_EQ(view.countLabel()->text(), "1 clip");
    EXPECT_FALSE(view.isEmptyStateShown());
    addClip("two.mp4", 4);
    addClip("three.mov", 3);
    reload();
    EXPECT_EQ(view.countLabel()->text(), "3 clips");

    view.searchField()->setText("zz");
    EXPECT_EQ(view.countLabel()->text(), "0 of 3");
    EXPECT_TRUE(view.isEmptyStateShown());
    view.searchField()->setText(" ");  // a space is text: the clear button shows, all clips match
    EXPECT_FALSE(view.clearSearchButton()->isHidden());
    EXPECT_EQ(view.countLabel()->text(), "3 of 3");
    view.clearSearchButton()->click();
    EXPECT_TRUE(view.searchField()->text().isEmpty());
    EXPECT_TRUE(view.clearSearchButton()->isHidden());
    EXPECT_EQ(view.countLabel()->text(), "3 clips");
    EXPECT_EQ(view.totalSizeLabel()->text(), "12 bytes");
}

TEST_F(ClipsViewTest, PlaceholderShowsStorageOnlyWithClips) {
    reload();
    EXPECT_FALSE(view.isPreviewShown());
    EXPECT_TRUE(view.storageLabel()->isHidden());
    addClip("a.mp4", 1);
    reload();
    EXPECT_TRUE(view.isPreviewShown());  // newest selected, its player made
    rig.model.selectClip(std::nullopt);
    EXPECT_FALSE(view.isPreviewShown());
    EXPECT_FALSE(view.storageLabel()->isHidden());
    EXPECT_EQ(view.storageLabel()->text(), "Clips Storage: 4 bytes");
}

TEST_F(ClipsViewTest, ChoosingARowSelectsTheClipAndModelSelectionMovesTheRow) {
    addClip("new.mp4", 1);
    addClip("old.mp4", 9);
    reload();
    EXPECT_EQ(view.listView()->currentIndex().row(), 0);
    view.listView()->setCurrentIndex(list.index(1));
    EXPECT_EQ(rig.model.selectedClip()->name, "old.mp4");
    QSignalSpy resets(&list, &QAbstractItemModel::modelReset);
    reload();  // survives a reload, updated in place (the list keeps its scroll position)
    EXPECT_EQ(view.listView()->currentIndex().row(), 1);
    EXPECT_EQ(resets.count(), 0);
    addClip("newest.mp4", 0);
    reload();
    EXPECT_EQ(resets.count(), 1);
    EXPECT_EQ(view.listView()->currentIndex().row(), 2);
    rig.runWorkers();  // durations and thumbnails arrive as row updates
    EXPECT_EQ(list.data(list.index(1), ClipListModel::DurationTextRole).toString(), "0:00");
    EXPECT_FALSE(list.data(list.index(1), ClipListModel::ThumbnailRole).value<QPixmap>().isNull());
    // Hours and minutes in the user's style, never seconds.
    const QString date = list.data(list.index(0), ClipListModel::DateTextRole).toString();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^(Today|Yesterday), \\d{1,2}[:.]\\d\\d( ?[AaPp]\\.?[Mm]\\.?)?$")).match(date).hasMatch())
        << date.toStdString();
}

TEST_F(ClipsViewTest, FileNamesAreShownAsWrittenEverywhere) {
    const std::string name = "<b>x<i> &amp; y.mp4";  // no "/": that cannot be in a file name
    addClip(name, 1);
    reload();
    EXPECT_EQ(list.data(list.index(0), Qt::DisplayRole).toString().toStdString(), name);
    EXPECT_EQ(view.titleLabel()->textFormat(), Qt::PlainText);
    EXPECT_EQ(view.titleLabel()->text().toStdString(), name);
    EXPECT_EQ(shownText(view.titleLabel()->toolTip()).toStdString(), name);

    view.confirmDelete(rig.model.clips()[0]);
    ASSERT_TRUE(view.deleteAlert());
    EXPECT_EQ(shownText(view.deleteAlert()->text()).toStdString(),
              "Move Clip to Trash?\nAre you sure you want to move '" + name + "' to the Trash?");
    view.deleteAlert()->reject();

    view.showRename(rig.model.clips()[0]);
    EXPECT_EQ(view.renameSheet()->nameField()->text().toStdString(), "<b>x<i> &amp; y");
    view.renameSheet()->reject();
}

TEST_F(ClipsViewTest, TrashConfirmationCancelKeepsConfirmTrashes) {
    addClip("a.mp4", 1);
    addClip("b.mp4", 9);
    reload();
    view.confirmDelete(rig.model.clips()[0]);
    button(view.deleteAlert(), "Cancel")->click();
    EXPECT_EQ(rig.model.clips().size(), 2u);
    EXPECT_TRUE(rig.trash.trashed.empty());

    view.confirmDelete(rig.model.clips()[0]);
    button(view.deleteAlert(), "Move to Trash")->click();
    EXPECT_EQ(rig.trash.trashed, std::vector<std::string>{(dir / "a.mp4").string()});
    EXPECT_EQ(rig.model.selectedClip()->name, "b.mp4");
}

TEST_F(ClipsViewTest, RenameDialogKeepsItselfOpenWithTheReasonOnRefusal) {
    addClip("clip.mp4", 1, "body");
    addClip("taken.mp4", 9);
    reload();
    view.showRename(rig.model.clips()[0]);
    RenameClipSheet* sheet = view.renameSheet();
    ASSERT_TRUE(sheet);
    EXPECT_TRUE(sheet->renameButton()->isEnabled());
    sheet->nameField()->setText("   ");
    EXPECT_FALSE(sheet->renameButton()->isEnabled());

    sheet->nameField()->setText("taken");
    sheet->submitRename();
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(sheet->errorLabel()->text(), "A file with this name already exists or is invalid.");
    EXPECT_EQ(sheet->nameField()->text(), "taken");
    sheet->nameField()->setText(".hidden");
    sheet->submitRename();
    EXPECT_TRUE(sheet->isVisible());

    // Return with the unchanged name closes and renames nothing.
    sheet->nameField()->setText(" clip ");
    sheet->submitRename();
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_EQ(test::readFile(dir / "clip.mp4"), "body");

    view.showRename(rig.model.clips()[0]);
    view.renameSheet()->nameField()->setText("better name");
    view.renameSheet()->submitRename();
    EXPECT_EQ(test::readFile(dir / "better name.mp4"), "body");
    EXPECT_EQ(rig.model.selectedClip()->name, "better name.mp4");
}

}  // namespace
}  // namespace corvane
