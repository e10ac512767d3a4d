#include <cmath>

#include <gtest/gtest.h>

#include "core/library/LibraryFakes.h"
#include "support/TempDir.h"

namespace corvane {
namespace {

using test::LibraryRig;
using test::readFile;
using test::writeFile;

struct Result {
    bool called = false;
    std::optional<std::string> path;
    ClipError error;
};

class ClipTrimTest : public ::testing::Test {
protected:
    void SetUp() override {
        writeFile(dir / "a.mp4", "ORIGINAL");
        rig.model.reloadClips();
        rig.runWorkers();  // durations known (8 bytes -> 0.008 s is too short; set below)
    }
    ClipItem clip(double duration = 30) {
        ClipItem c;
        for (const ClipItem& item : rig.model.clips())
            if (item.name == "a.mp4") c = item;
        c.durationSeconds = duration;
        return c;
    }
    std::shared_ptr<TrimJob> trim(const ClipItem& c, double s, double e, bool asNew, Result& r) {
        return rig.model.trimClip(c, s, e, asNew, [&r](std::optional<std::string> p, ClipError err) {
            r.called = true;
            r.path = std::move(p);
            r.error = std::move(err);
        });
    }
    int tempFiles() const {
        int n = 0;
        for (const auto& e : std::filesystem::directory_iterator(dir.path()))
            n += e.path().filename().string().rfind(".tmp_trim_", 0) == 0;
        return n;
    }
    test::TempDir dir;
    LibraryRig rig{dir.path()};
};

TEST_F(ClipTrimTest, SaveAsNewPicksTheNextFreeNameAndSelectsIt) {
    Result r1, r2;
    trim(clip(), 1, 5, true, r1);
    rig.runWorkers();
    ASSERT_TRUE(r1.path) << r1.error.message;
    EXPECT_EQ(*r1.path, (dir / "a_trimmed.mp4").string());
    EXPECT_EQ(rig.model.selectedClip()->name, "a_trimmed.mp4");
    EXPECT_EQ(rig.sound.chimes, 1);

    // Someone drops a file at the next name between the check and the move: it is kept.
    rig.files.beforeMove = [](const std::string& to) {
        if (to.find("_trimmed_2") != std::string::npos) writeFile(to, "INTRUDER");
    };
    trim(clip(), 1, 5, true, r2);
    rig.runWorkers();
    ASSERT_TRUE(r2.path);
    EXPECT_EQ(*r2.path, (dir / "a_trimmed_3.mp4").string());
    EXPECT_EQ(readFile(dir / "a_trimmed_2.mp4"), "INTRUDER");
    EXPECT_EQ(readFile(dir / "a_trimmed_3.mp4"), "cut:ORIGINAL");
    EXPECT_EQ(readFile(dir / "a.mp4"), "ORIGINAL");
    EXPECT_EQ(tempFiles(), 0);
}

TEST_F(ClipTrimTest, ReplaceIsOneAtomicRenameAndAFailureKeepsTheOriginal) {
    rig.model.selectClip(rig.model.clips()[0]);
    Result failed;
    rig.files.failReplace = true;
    trim(clip(), 2, 4, false, failed);
    rig.runWorkers();
    ASSERT_TRUE(failed.called);
    EXPECT_FALSE(failed.path);
    EXPECT_EQ(failed.error.code, EXDEV);
    EXPECT_EQ(readFile(dir / "a.mp4"), "ORIGINAL");
    EXPECT_EQ(tempFiles(), 0);
    EXPECT_TRUE(rig.model.player());  // the untouched original is previewed again

    Result ok;
    rig.files.failReplace = false;
    trim(clip(), 2, 4, false, ok);
    rig.runWorkers();
    ASSERT_TRUE(ok.path);
    EXPECT_EQ(*ok.path, (dir / "a.mp4").string());
    EXPECT_EQ(readFile(dir / "a.mp4"), "cut:ORIGINAL");
    EXPECT_EQ(rig.model.selectedClip()->name, "a.mp4");
    EXPECT_EQ(tempFiles(), 0);
}

TEST_F(ClipTrimTest, RangesWithoutVideoFailAndTouchNothing) {
    const std::pair<double, double> bad[] = {
        {-1, 5}, {std::nan(""), 5}, {1, std::nan("")}, {5, 5}, {6, 5}, {30, 40}, {1, HUGE_VAL}};
    for (const auto& [s, e] : bad) {
        Result r;
        trim(clip(), s, e, false, r);
        rig.runWorkers();
        ASSERT_TRUE(r.called) << s << " " << e;
        EXPECT_EQ(r.error.code, -1);
        EXPECT_EQ(r.error.message, "Invalid trim range");
    }
    EXPECT_EQ(rig.trimmer.lastStart, -1);  // never reached the cutter

    // The cutter finds no video in a range the model could not judge (duration unknown).
    Result r;
    rig.trimmer.result.status = TrimOutcome::Status::NoVideoInRange;
    trim(clip(0), 100, 110, false, r);
    rig.runWorkers();
    EXPECT_EQ(r.error.message, "Invalid trim range");
    EXPECT_EQ(rig.files.replaceCalls, 0);
    EXPECT_EQ(readFile(dir / "a.mp4"), "ORIGINAL");

    // A cutter error is passed through as it came.
    Result f;
    rig.trimmer.result = {TrimOutcome::Status::Failed, ClipError{"Corvane", -3, "Export failed with status 4"}};
    trim(clip(), 1, 2, true, f);
    rig.runWorkers();
    EXPECT_EQ(f.error.code, -3);
    EXPECT_EQ(tempFiles(), 0);
    EXPECT_EQ(rig.names(), std::vector<std::string>{"a.mp4"});
}

TEST_F(ClipTrimTest, ShortRangesAreWidenedToATenth) {
    Result r;
    trim(clip(), 3, 3.05, true, r);
    rig.runWorkers();
    EXPECT_NEAR(rig.trimmer.lastEnd, 3.1, 1e-9);
}

TEST_F(ClipTrimTest, CancelledTrimReplacesNothingAndNeverCallsBack) {
    Result r;
    auto job = trim(clip(), 1, 5, false, r);
    rig.trimWorker.runDue();  // the cut finishes on the worker...
    job->cancel();            // ...and the dialog is closed before the result arrives
    rig.runWorkers();
    EXPECT_FALSE(r.called);
    EXPECT_EQ(readFile(dir / "a.mp4"), "ORIGINAL");
    EXPECT_EQ(rig.files.replaceCalls, 0);
    EXPECT_EQ(tempFiles(), 0);

    auto early = trim(clip(), 1, 5, true, r);
    early->cancel();
    rig.runWorkers();
    EXPECT_FALSE(r.called);
    EXPECT_EQ(rig.names(), std::vector<std::string>{"a.mp4"});
}

TEST_F(ClipTrimTest, ModelGoneBeforeTheCutEndsLeavesNoTemporaryFile) {
    auto rig2 = std::make_unique<LibraryRig>(dir.path());
    rig2->model.reloadClips();
    ClipItem c = rig2->model.clips()[0];
    c.durationSeconds = 10;
    bool called = false;
    rig2->model.trimClip(c, 1, 2, true, [&](auto, auto) { called = true; });
    rig2->trimWorker.runDue();
    EXPECT_EQ(tempFiles(), 1);
    // Destroy only the model part: the scheduler still holds the result task.
    ManualScheduler& main = rig2->scheduler;
    rig2->model.~ClipsViewModel();
    new (&rig2->model) ClipsViewModel(ClipsViewModelDeps{main, rig2->files, rig2->cache, rig2->trimmer,
                                                          rig2->trimWorker});
    main.runDue();
    EXPECT_FALSE(called);
    EXPECT_EQ(tempFiles(), 0);
}

}  // namespace
}  // namespace corvane
