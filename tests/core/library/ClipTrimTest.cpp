#include <algorithm>
#include <cmath>

#include <gtest/gtest.h>

#include "support/LibraryRig.h"
#include "support/TempDir.h"

namespace corvane {
namespace {

// What a trim reported back, if anything.
struct Result { bool called = false; std::optional<std::string> path; ClipError error; };

class ClipTrimTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::writeTextFile(dir / "a.mp4", "ORIGINAL");
        rig.model.reloadClips();
        rig.runWorkers();
    }
    std::shared_ptr<TrimJob> trim(double s, double e, bool asNew, Result& r, double duration = 30) {
        ClipItem c = *std::find_if(rig.model.clips().begin(), rig.model.clips().end(),
                                   [](const ClipItem& i) { return i.name == "a.mp4"; });
        c.durationSeconds = duration;
        return rig.model.trimClip(c, s, e, asNew, [&r](std::optional<std::string> p, ClipError err) {
            r = {true, std::move(p), std::move(err)};
        });
    }
    test::TempDir dir;
    test::LibraryRig rig{dir.path()};
};

TEST_F(ClipTrimTest, SaveAsNewTakesTheNextFreeNameWithoutReplacingAnIntruder) {
    Result r1, r2;
    trim(1, 5, true, r1);
    rig.runWorkers();
    ASSERT_TRUE(r1.path) << r1.error.message;
    EXPECT_EQ(*r1.path, (dir / "a_trimmed.mp4").string());
    EXPECT_EQ(rig.model.selectedClip()->name, "a_trimmed.mp4");
    EXPECT_EQ(rig.sound.chimes, 1);

    // A file dropped at the next name between the check and the move is kept.
    rig.files.beforeMove = [](const std::string& to) {
        if (to.find("_trimmed_2") != std::string::npos) test::writeTextFile(to, "INTRUDER");
    };
    trim(3, 3.05, true, r2);  // also: a too-short range is widened to a tenth
    rig.runWorkers();
    EXPECT_NEAR(rig.trimmer.lastEnd, 3.1, 1e-9);
    ASSERT_TRUE(r2.path);
    EXPECT_EQ(*r2.path, (dir / "a_trimmed_3.mp4").string());
    EXPECT_EQ(test::readTextFile(dir / "a_trimmed_2.mp4"), "INTRUDER");
    EXPECT_EQ(test::readTextFile(dir / "a_trimmed_3.mp4"), "cut:ORIGINAL");
    EXPECT_EQ(test::readTextFile(dir / "a.mp4"), "ORIGINAL");
    EXPECT_EQ(test::tempTrimFiles(dir.path()), 0);
}

TEST_F(ClipTrimTest, ReplaceIsOneAtomicRenameAndAFailureKeepsTheOriginal) {
    Result failed, ok;
    rig.model.seek(0);  // the original is playing
    rig.files.failReplace = true;
    trim(2, 4, false, failed);
    rig.runWorkers();
    ASSERT_TRUE(failed.called);
    EXPECT_FALSE(failed.path);
    EXPECT_EQ(failed.error.code, EXDEV);
    EXPECT_EQ(test::readTextFile(dir / "a.mp4"), "ORIGINAL");
    EXPECT_EQ(test::tempTrimFiles(dir.path()), 0);
    EXPECT_TRUE(rig.model.player());  // the untouched original is previewed again

    rig.files.failReplace = false;
    trim(2, 4, false, ok);
    rig.runWorkers();
    ASSERT_TRUE(ok.path);
    EXPECT_EQ(test::readTextFile(dir / "a.mp4"), "cut:ORIGINAL");
    EXPECT_EQ(test::tempTrimFiles(dir.path()), 0);
}

TEST_F(ClipTrimTest, RangesWithoutVideoFailAndTouchNothing) {
    const std::pair<double, double> bad[] = {
        {-1, 5}, {std::nan(""), 5}, {1, std::nan("")}, {5, 5}, {6, 5}, {30, 40}, {1, HUGE_VAL}};
    for (const auto& [s, e] : bad) {
        Result r;
        trim(s, e, false, r);
        rig.runWorkers();
        ASSERT_TRUE(r.called) << s << " " << e;
        EXPECT_EQ(r.error.message, "Invalid trim range");
    }
    EXPECT_EQ(rig.trimmer.lastStart, -1);  // never reached the cutter

    // The cutter finds no video in a range the model could not judge (duration unknown).
    Result none;
    rig.trimmer.result.status = TrimOutcome::Status::NoVideoInRange;
    trim(100, 110, false, none, 0);
    rig.runWorkers();
    EXPECT_EQ(none.error.message, "Invalid trim range");
    EXPECT_EQ(rig.files.replaceCalls, 0);
    EXPECT_EQ(test::tempTrimFiles(dir.path()), 0);
    EXPECT_EQ(test::readTextFile(dir / "a.mp4"), "ORIGINAL");
}

// A cancel after the cut but before its result is the trim sheet closing (tests/ui/library).
TEST_F(ClipTrimTest, TrimCancelledBeforeItStartsNeverCallsBack) {
    Result r;
    trim(1, 5, true, r)->cancel();
    rig.runWorkers();
    EXPECT_FALSE(r.called);
    EXPECT_EQ(test::tempTrimFiles(dir.path()), 0);
    EXPECT_EQ(rig.names(), std::vector<std::string>{"a.mp4"});
}

TEST_F(ClipTrimTest, ModelGoneBeforeTheCutEndsLeavesNoTemporaryFile) {
    Result r;
    trim(1, 2, true, r);
    rig.trimWorker.runDue();
    EXPECT_EQ(test::tempTrimFiles(dir.path()), 1);
    // Replace only the model: the scheduler still holds the old one's result task.
    rig.model.~ClipsViewModel();
    new (&rig.model) ClipsViewModel(ClipsViewModelDeps{rig.scheduler, rig.files, rig.cache, rig.trimmer, rig.trimWorker});
    rig.scheduler.runDue();
    EXPECT_FALSE(r.called);
    EXPECT_EQ(test::tempTrimFiles(dir.path()), 0);
}

}  // namespace
}  // namespace corvane
