#include "core/library/ClipsViewModel.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "core/log/Log.h"
#include "core/library/LibraryFakes.h"
#include "support/TempDir.h"

namespace corvane {
namespace {

using test::FakePlayer;
using test::LibraryRig;
using test::readFile;
using test::setAge;
using test::writeFile;

class ClipsViewModelTest : public ::testing::Test {
protected:
    void addClip(const std::string& name, int secondsAgo, const std::string& body = "clip") {
        writeFile(dir / name, body);
        setAge(dir / name, secondsAgo);
    }
    test::TempDir dir;
    LibraryRig rig{dir.path()};
};

TEST_F(ClipsViewModelTest, ListsOnlyRegularMp4AndMovFilesNewestFirst) {
    addClip("a.MP4", 30, std::string(100, 'a'));
    addClip("b.mov", 10, std::string(20, 'b'));
    addClip("c.mkv", 5, std::string(3, 'c'));
    addClip(".hidden.mp4", 1, std::string(1000, 'h'));
    std::filesystem::create_directory(dir / "d.mp4");
    ASSERT_EQ(::mkfifo((dir / "f.mp4").c_str(), 0600), 0);  // opening it would block forever

    rig.model.reloadClips();
    EXPECT_EQ(rig.names(), (std::vector<std::string>{"b.mov", "a.MP4"}));
    EXPECT_EQ(rig.model.totalFolderSize(), 123);  // a, b and c; not the hidden file
    EXPECT_EQ(rig.model.formattedTotalSize(), "123 bytes");
    ASSERT_TRUE(rig.model.selectedClip());
    EXPECT_EQ(rig.model.selectedClip()->name, "b.mov");
    ASSERT_TRUE(rig.currentPlayer());
    EXPECT_EQ(rig.currentPlayer()->path, (dir / "b.mov").string());
}

TEST_F(ClipsViewModelTest, EqualDatesKeepListingOrder) {
    const WallTime t = WallTime() + std::chrono::hours(500000);
    rig.files.listOverride = [&](const std::string&) {
        std::vector<FolderEntry> v;
        for (const char* n : {"z.mp4", "a.mp4", "m.mov", "old.mp4"})
            v.push_back(FolderEntry{n, true, 1, std::string(n) == "old.mp4" ? t - std::chrono::hours(1) : t});
        v.push_back(FolderEntry{"gone.mp4", true, std::nullopt, std::nullopt});  // vanished mid-listing
        return std::optional(v);
    };
    rig.model.reloadClips();
    EXPECT_EQ(rig.names(), (std::vector<std::string>{"z.mp4", "a.mp4", "m.mov", "old.mp4"}));
}

TEST_F(ClipsViewModelTest, MissingFolderGivesEmptyListAndNoWatch) {
    addClip("a.mp4", 1);
    rig.model.reloadClips();
    ASSERT_TRUE(rig.model.player());
    rig.model.setOutputDir((dir / "nope").string());
    EXPECT_FALSE(rig.model.isWatching());
    rig.model.reloadClips();
    EXPECT_TRUE(rig.model.clips().empty());
    EXPECT_FALSE(rig.model.selectedClip());
    EXPECT_FALSE(rig.model.player());
    EXPECT_EQ(rig.model.totalFolderSize(), 0);
    EXPECT_FALSE(std::filesystem::exists(dir / "nope"));  // listing never creates the folder
    rig.model.openClipsFolder();                          // opening does
    EXPECT_TRUE(std::filesystem::is_directory(dir / "nope"));
    EXPECT_EQ(rig.fileManager.opened, std::vector<std::string>{(dir / "nope").string()});
}

TEST_F(ClipsViewModelTest, TildeExpandsToHome) {
    EXPECT_EQ(expandTilde("~/Videos/Corvane", "/home/u"), "/home/u/Videos/Corvane");
    EXPECT_EQ(expandTilde("~", "/home/u"), "/home/u");
    EXPECT_EQ(expandTilde("~other/x", "/home/u"), "~other/x");
    rig.model.setOutputDir("~/Videos");
    EXPECT_EQ(rig.model.expandedOutputDir(), "/home/tester/Videos");
}

TEST_F(ClipsViewModelTest, SelectionSurvivesReloadsAndFallsBackToNewest) {
    addClip("old.mp4", 100);
    addClip("new.mp4", 10);
    rig.model.reloadClips();
    rig.model.selectClip(rig.model.clips()[1]);  // old.mp4
    FakePlayer* player = rig.currentPlayer();
    player->position = 4.5;
    addClip("newer.mp4", 1);
    rig.model.reloadClips();
    EXPECT_EQ(rig.model.selectedClip()->name, "old.mp4");
    EXPECT_EQ(rig.currentPlayer(), player);  // the preview goes on undisturbed
    EXPECT_EQ(rig.model.selectedClip()->id, rig.model.clips()[2].id);  // fresh item from the new list

    std::filesystem::remove(dir / "old.mp4");
    rig.model.reloadClips();
    EXPECT_EQ(rig.model.selectedClip()->name, "newer.mp4");
    ASSERT_TRUE(rig.currentPlayer());
    EXPECT_NE(rig.currentPlayer()->path, (dir / "old.mp4").string());
    EXPECT_FALSE(rig.currentPlayer()->paused);  // new, never started
}

TEST_F(ClipsViewModelTest, SearchUsesUntrimmedTextUnlessBlank) {
    addClip("Alpha.mp4", 3);
    addClip("beta a.mp4", 2);
    addClip("gamma.mp4", 1);
    rig.model.reloadClips();
    rig.model.setSearchText("   ");
    EXPECT_EQ(rig.model.filteredClips().size(), 3u);
    rig.model.setSearchText("ALP");
    ASSERT_EQ(rig.model.filteredClips().size(), 1u);
    EXPECT_EQ(rig.model.filteredClips()[0].name, "Alpha.mp4");
    rig.model.setSearchText(" a");
    ASSERT_EQ(rig.model.filteredClips().size(), 1u);
    EXPECT_EQ(rig.model.filteredClips()[0].name, "beta a.mp4");
    rig.model.setSearchText("zz");
    EXPECT_TRUE(rig.model.filteredClips().empty());
}

TEST_F(ClipsViewModelTest, EachFolderEventReloadsAQuarterSecondLater) {
    EXPECT_TRUE(rig.model.isWatching());
    EXPECT_EQ(rig.watcher.watched, dir.path().string());
    rig.model.reloadClips();
    addClip("a.mp4", 1);
    rig.watcher.fire();
    rig.scheduler.advanceBy(std::chrono::milliseconds(249));
    EXPECT_TRUE(rig.model.clips().empty());
    rig.scheduler.advanceBy(std::chrono::milliseconds(1));
    EXPECT_EQ(rig.names(), std::vector<std::string>{"a.mp4"});

    // Not coalesced: three events, three reloads.
    rig.changes.clear();
    rig.watcher.fire();
    rig.scheduler.advanceBy(std::chrono::milliseconds(100));
    rig.watcher.fire();
    rig.watcher.fire();
    rig.scheduler.advanceBy(std::chrono::seconds(1));
    int reloads = 0;
    for (unsigned c : rig.changes) reloads += (c & ClipsViewModel::ClipsChanged) ? 1 : 0;
    EXPECT_EQ(reloads, 3);

    // A new folder moves the watch; a destroyed model's pending reloads do nothing.
    rig.watcher.fire();
    rig.model.setOutputDir((dir / "missing").string());
    EXPECT_TRUE(rig.watcher.watched.empty());
}

TEST_F(ClipsViewModelTest, SavedClipAnnouncementReloadsAndSelectsIt) {
    addClip("new.mp4", 1);
    addClip("saved.mp4", 50);
    rig.model.reloadClips();
    rig.announcer.announce((dir / "." / "saved.mp4").string());
    rig.scheduler.runDue();
    EXPECT_EQ(rig.model.selectedClip()->name, "saved.mp4");
}

TEST_F(ClipsViewModelTest, DurationsAndThumbnailsFillInTheBackground) {
    addClip("a.mp4", 20, std::string(1500, 'x'));
    addClip("b.mp4", 10, std::string(2500, 'x'));
    std::vector<std::string> updated;
    rig.model.onClipInfoChanged = [&](const std::string& p) { updated.push_back(p); };
    rig.model.reloadClips();
    EXPECT_EQ(rig.model.clips()[0].durationSeconds, 0);  // not probed on the main thread
    EXPECT_TRUE(rig.prober.probed.empty());
    rig.runWorkers();
    // Newest (top row) first.
    EXPECT_EQ(rig.prober.probed, (std::vector<std::string>{(dir / "b.mp4").string(), (dir / "a.mp4").string()}));
    EXPECT_EQ(updated.size(), 2u);
    EXPECT_DOUBLE_EQ(rig.model.clips()[0].durationSeconds, 2.5);
    EXPECT_DOUBLE_EQ(rig.model.selectedClip()->durationSeconds, 2.5);
    EXPECT_NE(rig.model.thumbnailFor(rig.model.clips()[1]), nullptr);

    // A warm reload probes nothing; a rewritten file is probed again.
    rig.model.reloadClips();
    EXPECT_DOUBLE_EQ(rig.model.clips()[1].durationSeconds, 1.5);
    addClip("a.mp4", 20, std::string(4000, 'x'));
    rig.model.reloadClips();
    rig.runWorkers();
    EXPECT_EQ(rig.prober.probed.size(), 3u);
    EXPECT_DOUBLE_EQ(rig.model.clips()[1].durationSeconds, 4.0);
}

TEST_F(ClipsViewModelTest, RenameCleansTheNameAndRefusesHidingOrClashingNames) {
    addClip("clip.mp4", 5, "original");
    addClip("taken.mp4", 9);
    rig.model.reloadClips();
    const ClipItem clip = rig.model.clips()[0];

    EXPECT_FALSE(rig.model.renameClip(clip, "  \t "));
    EXPECT_FALSE(rig.model.renameClip(clip, ".secret"));   // would vanish from the list
    EXPECT_FALSE(rig.model.renameClip(clip, "bad\x01name"));
    EXPECT_FALSE(rig.model.renameClip(clip, "taken"));
    EXPECT_TRUE(rig.model.renameClip(clip, "clip "));       // unchanged name: nothing to do
    EXPECT_EQ(readFile(dir / "clip.mp4"), "original");

    EXPECT_TRUE(rig.model.renameClip(clip, "  my/clip:1 "));
    EXPECT_EQ(readFile(dir / "my-clip-1.mp4"), "original");
    EXPECT_FALSE(std::filesystem::exists(dir / "clip.mp4"));
}

TEST_F(ClipsViewModelTest, RenameNeverReplacesAFileThatAppearsMeanwhile) {
    addClip("clip.mp4", 5, "original");
    rig.model.reloadClips();
    rig.files.beforeMove = [](const std::string& to) { writeFile(to, "intruder"); };
    std::vector<std::string> logs;
    setLogSinkForTesting([&](const std::string& l) { logs.push_back(l); });
    EXPECT_FALSE(rig.model.renameClip(rig.model.clips()[0], "new"));
    setLogSinkForTesting(nullptr);
    EXPECT_EQ(readFile(dir / "new.mp4"), "intruder");
    EXPECT_EQ(readFile(dir / "clip.mp4"), "original");
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_EQ(logs[0].rfind("[Corvane] Error renaming file: ", 0), 0u);
}

TEST_F(ClipsViewModelTest, RenamingTheSelectedClipKeepsItSelectedAtItsPosition) {
    addClip("a.mp4", 5);
    addClip("b.mp4", 50);
    rig.model.reloadClips();
    rig.model.selectClip(rig.model.clips()[1]);
    rig.currentPlayer()->position = 7.25;
    // A stale item (older id) still names the selected file: selection is judged by path.
    const ClipItem stale = rig.model.clips()[1];
    rig.model.reloadClips();
    ASSERT_TRUE(rig.model.renameClip(stale, "renamed"));
    EXPECT_EQ(rig.model.selectedClip()->name, "renamed.mp4");
    ASSERT_TRUE(rig.currentPlayer());
    EXPECT_EQ(rig.currentPlayer()->path, (dir / "renamed.mp4").string());
    EXPECT_DOUBLE_EQ(rig.currentPlayer()->position, 7.25);
    EXPECT_FALSE(rig.currentPlayer()->paused);
}

TEST_F(ClipsViewModelTest, TrashMovesSelectionOrReportsFailure) {
    addClip("a.mp4", 5);
    addClip("b.mp4", 50);
    rig.model.reloadClips();
    rig.trash.fail = true;
    std::vector<std::string> logs;
    setLogSinkForTesting([&](const std::string& l) { logs.push_back(l); });
    rig.model.deleteClip(rig.model.clips()[0]);
    setLogSinkForTesting(nullptr);
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_EQ(logs[0], "[Corvane] Error moving clip to trash: Permission denied");
    EXPECT_EQ(rig.model.clips().size(), 2u);

    rig.trash.fail = false;
    rig.model.deleteClip(rig.model.clips()[0]);
    EXPECT_EQ(rig.names(), std::vector<std::string>{"b.mp4"});
    EXPECT_EQ(rig.model.selectedClip()->name, "b.mp4");
    rig.model.revealInFinder(rig.model.clips()[0]);
    EXPECT_EQ(rig.fileManager.revealed, std::vector<std::string>{(dir / "b.mp4").string()});
}

}  // namespace
}  // namespace corvane
