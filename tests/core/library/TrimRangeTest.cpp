#include "core/library/TrimRange.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

TEST(TrimRange, EmptyClipStillHasATenthOfASecond) {
    TrimRange r(0);
    EXPECT_DOUBLE_EQ(r.duration(), 0.1);
    EXPECT_DOUBLE_EQ(r.end(), 0.1);
}

TEST(TrimRange, KeysKeepStartAndEndApart) {
    TrimRange r(30);
    // End at 10.1, I at 10.0: start stops 0.2 before the end.
    r.setCurrent(10.1);
    r.setEndToCurrent();
    r.setCurrent(10.0);
    r.setStartToCurrent();
    EXPECT_NEAR(r.start(), 9.9, 1e-9);

    // Start at 3.0, O at 1.0: end goes to start + 0.2 and the playhead follows into the range.
    TrimRange q(30);
    q.setCurrent(3.0);
    q.setStartToCurrent();
    q.setCurrent(1.0);
    const double seek = q.setEndToCurrent();
    EXPECT_NEAR(q.end(), 3.2, 1e-9);
    EXPECT_LT(seek, 0);  // 1.0 is not after the end: no seek
}

TEST(TrimRange, HandleDragsRespectTheMinimumAndTheClip) {
    TrimRange r(20);
    r.dragEndHandle(5);
    EXPECT_DOUBLE_EQ(r.dragStartHandle(19), 4.8);
    EXPECT_DOUBLE_EQ(r.current(), 4.8);  // the preview shows the frame under the handle
    EXPECT_DOUBLE_EQ(r.dragEndHandle(0), 5.0);
    EXPECT_DOUBLE_EQ(r.dragEndHandle(99), 20.0);
    EXPECT_DOUBLE_EQ(r.dragStartHandle(-4), 0.0);
    EXPECT_DOUBLE_EQ(r.scrubTo(-1), 0.0);
    EXPECT_DOUBLE_EQ(r.scrubTo(25), 20.0);
}

TEST(TrimRange, PlaybackStopsAtTheEndAndRestartsFromTheStart) {
    TrimRange r(10);
    r.setCurrent(2);
    r.setStartToCurrent();
    r.setCurrent(4);
    r.setEndToCurrent();
    EXPECT_FALSE(r.playerAt(3.9, true));
    EXPECT_TRUE(r.playerAt(4.0, true));
    EXPECT_DOUBLE_EQ(r.current(), 2.0);
    EXPECT_LT(r.prepareToPlay(), 0);  // at the start already
    r.step(+5);                       // stepping may leave the range
    EXPECT_DOUBLE_EQ(r.current(), 7.0);
    EXPECT_DOUBLE_EQ(r.prepareToPlay(), 2.0);
    EXPECT_DOUBLE_EQ(r.step(-10), 0.0);
    EXPECT_FALSE(r.playerAt(9.5, false));  // paused past the end: nothing to stop
}

}  // namespace
}  // namespace corvane
