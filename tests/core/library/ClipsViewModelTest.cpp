#include "core/library/ClipsViewModel.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "support/CaptureLogLines.h"
#include "support/LibraryRig.h"
#include "support/TempDir.h"

namespace corvane {
namespace {

using test::addClip;

class ClipsViewModelTest : public ::testing::Test {
protected:
    test::TempDir dir;
    test::LibraryRig rig{dir.path()};
};

TEST_F(ClipsViewModelTest, ListsOnlyRegularMp4AndMovFilesNewestFirst) {
    addClip(dir / "a.MP4", 30, std::string(100, 'a'));
    addClip(dir / "b.mov", 10, std::string(20, 'b'));
    addClip(dir / "c.mkv", 5, std::string(3, 'c'));
    addClip(dir / ".hidden.mp4", 1, std::string(1000, 'h'));
    std::filesystem::create_directory(dir / "d.mp4");
    ASSERT_EQ(::mkfifo((dir / "f.mp4").c_str(), 0600), 0);  // opening it would block forever

    rig.model.reloadClips();
    EXPECT_EQ(rig.names(), (std::vector<std::string>{"b.mov", "a.MP4"}));
    EXPECT_EQ(rig.model.formattedTotalSize(), "123 bytes");  // a, b and c; not the hidden file
    EXPECT_EQ(rig.model.selectedClip()->path, (dir / "b.mov").string());

    // Equal dates keep the listing's order; an entry that vanished mid-listing is dropped.
    const WallTime t = WallTime() + std::chrono::hours(500000);
    rig.files.listOverride = [&](const std::string&) {
        return std::optional(std::vector<FolderEntry>{{"old.mp4", true, 1, t - std::chrono::hours(1)},
            {"z.mp4", true, 1, t}, {"a.mp4", true, 1, t}, {"gone.mp4", true, std::nullopt, std::nullopt},
            {"m.mov", true, 1, t}});
    };
    rig.model.reloadClips();
    EXPECT_EQ(rig.names(), (std::vector<std::string>{"z.mp4", "a.mp4", "m.mov", "old.mp4"}));
}

TEST_F(ClipsViewModelTest, MissingFolderGivesEmptyListAndOnlyOpeningCreatesIt) {
    addClip(dir / "a.mp4", 1);
    rig.model.reloadClips();
    rig.runWorkers();
    ASSERT_TRUE(rig.model.poster());
    rig.model.setOutputDir((dir / "nope").string());
    EXPECT_FALSE(rig.model.isWatching());
    rig.model.reloadClips();
    EXPECT_TRUE(rig.model.clips().empty());
    EXPECT_FALSE(rig.model.poster()) << "nothing selected, nothing shown";
    EXPECT_FALSE(std::filesystem::exists(dir / "nope"));
    rig.model.openClipsFolder();
    EXPECT_TRUE(std::filesystem::is_directory(dir / "nope"));
    EXPECT_EQ(rig.fileManager.opened, std::vector<std::string>{(dir / "nope").string()});

    EXPECT_EQ(expandTilde("~other/x", "/home/u"), "~other/x");  // only the user's own home
    rig.model.setOutputDir("~/Videos");
    EXPECT_EQ(rig.model.expandedOutputDir(), "/home/tester/Videos");
}

TEST_F(ClipsViewModelTest, SelectionSurvivesReloadsAndRenamesAndFallsBackToNewest) {
    addClip(dir / "old.mp4", 100);
    addClip(dir / "new.mp4", 10);
    rig.model.reloadClips();
    rig.model.selectClip(rig.model.clips()[1]);  // old.mp4
    rig.model.seek(7.25);
    test::FakePlayer* player = rig.currentPlayer();
    ASSERT_TRUE(player);
    const ClipItem stale = rig.model.clips()[1];
    addClip(dir / "newer.mp4", 1);
    rig.model.reloadClips();
    EXPECT_EQ(rig.currentPlayer(), player);  // the preview goes on undisturbed
    EXPECT_EQ(rig.model.selectedClip()->id, rig.model.clips()[2].id);  // fresh item from the new list

    // Renaming by a stale item (selection is judged by path) keeps the preview where it was.
    ASSERT_TRUE(rig.model.renameClip(stale, "renamed"));
    EXPECT_EQ(rig.model.selectedClip()->name, "renamed.mp4");
    ASSERT_TRUE(rig.currentPlayer());
    EXPECT_EQ(rig.currentPlayer()->path, (dir / "renamed.mp4").string());
    EXPECT_DOUBLE_EQ(rig.currentPlayer()->position, 7.25);

    std::filesystem::remove(dir / "renamed.mp4");
    rig.model.reloadClips();
    EXPECT_EQ(rig.model.selectedClip()->name, "newer.mp4");
    EXPECT_EQ(rig.currentPlayer()->path, (dir / "newer.mp4").string());

    // A saved clip's announcement reloads and selects it, however its path is spelled.
    addClip(dir / "saved.mp4", 50);
    rig.announcer.announce((dir / "." / "saved.mp4").string());
    rig.scheduler.runDue();
    EXPECT_EQ(rig.model.selectedClip()->name, "saved.mp4");
}

TEST_F(ClipsViewModelTest, SearchUsesUntrimmedTextUnlessBlank) {
    for (const char* n : {"Alpha.mp4", "beta a.mp4", "gamma.mp4"}) addClip(dir / n, 1);
    rig.model.reloadClips();
    // " a" matches only "beta a": the text is not trimmed.
    const std::pair<const char*, size_t> cases[] = {{"   ", 3}, {"ALP", 1}, {" a", 1}, {"zz", 0}};
    for (const auto& [text, count] : cases) {
        rig.model.setSearchText(text);
        EXPECT_EQ(rig.model.filteredClips().size(), count) << text;
    }
}

TEST_F(ClipsViewModelTest, EachFolderEventReloadsAQuarterSecondLater) {
    EXPECT_EQ(rig.watcher.watched, dir.path().string());
    rig.model.reloadClips();
    addClip(dir / "a.mp4", 1);
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
}

TEST_F(ClipsViewModelTest, DurationsAndThumbnailsFillInTheBackgroundNewestFirst) {
    addClip(dir / "a.mp4", 20, std::string(1500, 'x'));
    addClip(dir / "b.mp4", 10, std::string(2500, 'x'));
    rig.model.reloadClips();
    EXPECT_TRUE(rig.prober.probed.empty());  // never on the main thread
    rig.runWorkers();
    EXPECT_EQ(rig.prober.probed, (std::vector<std::string>{(dir / "b.mp4").string(), (dir / "a.mp4").string()}));
    EXPECT_DOUBLE_EQ(rig.model.selectedClip()->durationSeconds, 2.5);

    // A warm reload probes nothing; a rewritten file is probed again.
    rig.model.reloadClips();
    EXPECT_DOUBLE_EQ(rig.model.clips()[1].durationSeconds, 1.5);
    addClip(dir / "a.mp4", 20, std::string(4000, 'x'));
    rig.model.reloadClips();
    rig.runWorkers();
    EXPECT_EQ(rig.prober.probed.size(), 3u);
    EXPECT_DOUBLE_EQ(rig.model.clips()[1].durationSeconds, 4.0);
}

// A library of thousands of clips must not hold a thumbnail for each: only the rows in use.
TEST_F(ClipsViewModelTest, ABigLibraryKeepsTheThumbnailsOfTheRowsInUseOnly) {
    const size_t kept = ClipMediaCache::kThumbnailsKept;
    for (size_t i = 0; i < kept + 3; ++i) addClip(dir / ("c" + std::to_string(i) + ".mp4"), int(i) + 1);
    rig.model.reloadClips();
    rig.runWorkers();
    const std::vector<ClipItem> clips = rig.model.clips();  // newest first
    ASSERT_EQ(clips.size(), kept + 3);
    auto thumbnailsHeld = [&] {
        size_t n = 0;
        for (const ClipItem& c : clips)
            if (const ClipMediaInfo* info = rig.cache.find(ClipMediaCache::keyFor(c.path, c.fileSize, c.creationDate)))
                n += !info->thumbnail.empty();
        return n;
    };
    // Every duration is known; the first load keeps the top rows' thumbnails.
    for (const ClipItem& c : clips) EXPECT_GT(c.durationSeconds, 0) << c.path;
    EXPECT_EQ(thumbnailsHeld(), kept);
    EXPECT_NE(rig.model.thumbnailFor(clips.front()), nullptr);

    // Scrolled to the bottom: the row's thumbnail is probed again and comes back, the one used
    // longest ago goes, and the count stays.
    const size_t probes = rig.prober.probed.size();
    EXPECT_EQ(rig.model.thumbnailFor(clips.back()), nullptr);
    rig.runWorkers();
    EXPECT_EQ(rig.prober.probed.size(), probes + 1);
    EXPECT_NE(rig.model.thumbnailFor(clips.back()), nullptr);
    EXPECT_NE(rig.model.thumbnailFor(clips.front()), nullptr) << "used lately: kept";
    EXPECT_EQ(thumbnailsHeld(), kept);
    EXPECT_DOUBLE_EQ(rig.model.clips().back().durationSeconds, clips.back().durationSeconds);
}

TEST_F(ClipsViewModelTest, DamagedClipsAreMarkedGetNoPlayerAndCanStillBeRenamed) {
    addClip(dir / "good.mp4", 20, std::string(3000, 'x'));
    addClip(dir / "broken.mp4", 10, "XXXX");
    rig.model.reloadClips();
    rig.model.togglePlayback();
    ASSERT_TRUE(rig.currentPlayer()) << "not known to be damaged before its probe";
    rig.runWorkers();
    EXPECT_TRUE(rig.model.selectedClip()->damaged);
    EXPECT_FALSE(rig.model.player()) << "released once the probe finds it damaged";
    EXPECT_FALSE(rig.model.clips()[1].damaged);
    ASSERT_TRUE(rig.model.renameClip(rig.model.clips()[0], "kept"));
    rig.runWorkers();
    EXPECT_TRUE(rig.model.selectedClip()->damaged);
    EXPECT_FALSE(rig.model.player());
    EXPECT_EQ(rig.model.selectedClip()->name, "kept.mp4");
}

// A hidden library must cost nothing per save: memory would otherwise grow with every clip.
TEST_F(ClipsViewModelTest, AHiddenLibraryNeitherPlaysNorProbesAndShowsTheNewestSaveLater) {
    addClip(dir / "a.mp4", 20);
    rig.model.reloadClips();
    rig.runWorkers();
    ASSERT_TRUE(rig.model.poster());
    rig.model.setShown(false);
    EXPECT_FALSE(rig.model.poster());
    EXPECT_EQ(rig.watcher.watched, "") << "no folder watch while hidden";
    rig.runWorkers();
    const size_t probed = rig.prober.probed.size() + rig.prober.postered.size();
    for (int i = 0; i < 3; ++i) {
        const auto saved = dir / ("saved" + std::to_string(i) + ".mp4");
        addClip(saved, 1 - i);
        rig.announcer.announce(saved.string());
        rig.scheduler.runDue();
        rig.model.reloadClips();  // e.g. the application became active
        rig.runWorkers();
        EXPECT_FALSE(rig.model.poster()) << i;
        EXPECT_EQ(rig.prober.probed.size() + rig.prober.postered.size(), probed) << i;
    }
    EXPECT_EQ(rig.names(), std::vector<std::string>{"a.mp4"});
    rig.model.setShown(true);
    EXPECT_EQ(rig.names().size(), 4u);
    EXPECT_EQ(rig.watcher.watched, dir.path().string());
    EXPECT_EQ(rig.model.selectedClip()->path, (dir / "saved2.mp4").string());
    rig.runWorkers();
    EXPECT_TRUE(rig.model.poster());
    EXPECT_FALSE(rig.model.player());
}

// Every save selects the new clip, and a player is a whole media pipeline (tens of MB that are
// not all returned): until the user plays or seeks, the preview is a picture of the selection.
TEST_F(ClipsViewModelTest, ThePreviewIsAPosterOfTheSelectedClipUntilThePlayerIsFirstUsed) {
    addClip(dir / "a.mp4", 20, std::string(10, 'a'));
    addClip(dir / "b.mp4", 10, std::string(20, 'b'));
    const std::string a = (dir / "a.mp4").string(), b = (dir / "b.mp4").string();
    rig.model.reloadClips();  // selects b and asks for its poster
    rig.probeWorker.runDue();  // b is decoded, its picture on the way
    rig.model.selectClip(rig.model.clips()[1]);
    rig.scheduler.runDue();
    EXPECT_FALSE(rig.model.poster()) << "b's picture arrived after b was left";
    // A decode the selection has moved on from before it started is skipped.
    rig.model.selectClip(rig.model.clips()[0]);
    rig.model.selectClip(rig.model.clips()[1]);
    rig.runWorkers();
    EXPECT_EQ(rig.prober.postered, (std::vector<std::string>{b, a}));
    ASSERT_TRUE(rig.model.poster());
    EXPECT_EQ(rig.model.poster()->rgb[0], 10) << "a's picture";
    EXPECT_FALSE(rig.model.player());

    rig.model.togglePlayback();
    ASSERT_TRUE(rig.currentPlayer());
    EXPECT_EQ(rig.currentPlayer()->path, a);
    EXPECT_TRUE(rig.currentPlayer()->isPlaying());
    EXPECT_FALSE(rig.model.poster());
    // From now on a selection gets its player at once, and no poster.
    rig.model.selectClip(rig.model.clips()[0]);
    rig.runWorkers();
    ASSERT_TRUE(rig.currentPlayer());
    EXPECT_EQ(rig.currentPlayer()->path, b);
    EXPECT_EQ(rig.prober.postered.size(), 2u);
}

// The one picture kept has the pixels the preview draws, and a resize decodes again only when
// the preview outgrew it, showing the old picture meanwhile.
TEST_F(ClipsViewModelTest, PostersFitThePreviewAndAreDecodedAgainOnlyWhenItOutgrowsThem) {
    using Box = std::pair<int, int>;
    addClip(dir / "a.mp4", 20);
    addClip(dir / "b.mp4", 10);
    rig.model.reloadClips();  // selects b before the preview has a size
    rig.runWorkers();
    rig.model.setPosterSize(640, 360);
    rig.runWorkers();
    EXPECT_EQ(rig.prober.posterBoxes, (std::vector<Box>{{960, 540}})) << "shrinking decodes nothing";
    rig.model.selectClip(rig.model.clips()[1]);
    rig.runWorkers();
    ASSERT_TRUE(rig.model.poster());
    EXPECT_EQ(rig.model.poster()->width, 640);

    rig.model.setPosterSize(3840, 2160);  // outgrown; never more than the largest poster
    ASSERT_TRUE(rig.model.poster());
    EXPECT_EQ(rig.model.poster()->width, 640) << "the old picture shows until the new one is there";
    rig.runWorkers();
    EXPECT_EQ(rig.model.poster()->width, 960);
    // A decode for a size the preview has grown past since is not shown.
    rig.model.setPosterSize(320, 180);
    rig.model.selectClip(rig.model.clips()[0]);
    rig.model.setPosterSize(480, 270);
    rig.runWorkers();
    EXPECT_EQ(rig.model.poster()->width, 480);
    EXPECT_EQ(rig.prober.posterBoxes.back(), (Box{480, 270}));
}

TEST_F(ClipsViewModelTest, RenameCleansTheNameKeepsTheExtensionAndNeverReplacesAFile) {
    addClip(dir / "my.clip.MOV", 5, "original");
    addClip(dir / "taken.MOV", 9);
    rig.model.reloadClips();
    const ClipItem clip = rig.model.clips()[0];
    for (const char* bad : {"  \t ", ".secret", "bad\x01name", "taken"})
        EXPECT_FALSE(rig.model.renameClip(clip, bad)) << bad;
    EXPECT_TRUE(rig.model.renameClip(clip, "my.clip "));  // unchanged name: nothing to do

    // A file that appears at the new name meanwhile is never replaced.
    rig.files.beforeMove = [](const std::string& to) { test::writeTextFile(to, "intruder"); };
    {
        test::LogCapture log;
        EXPECT_FALSE(rig.model.renameClip(clip, "new"));
        ASSERT_EQ(log.lines().size(), 1u);
        EXPECT_EQ(log.lines()[0].rfind("[Corvane] Error renaming file: ", 0), 0u);
    }
    EXPECT_EQ(test::readTextFile(dir / "new.MOV"), "intruder");
    EXPECT_EQ(test::readTextFile(dir / "my.clip.MOV"), "original");

    rig.files.beforeMove = nullptr;
    EXPECT_TRUE(rig.model.renameClip(clip, "  my/clip:1 "));
    EXPECT_EQ(test::readTextFile(dir / "my-clip-1.MOV"), "original");
    EXPECT_FALSE(std::filesystem::exists(dir / "my.clip.MOV"));
}

}  // namespace
}  // namespace corvane
