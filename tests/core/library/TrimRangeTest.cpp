#include "core/library/TrimRange.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

TEST(TrimRange, KeysAndHandlesKeepStartAndEndAFifthApart) {
    EXPECT_DOUBLE_EQ(TrimRange(0).end(), 0.1);  // an empty clip still has a tenth of a second

    // (I too close to the end: TrimClipSheetTest.) O before the start: the end goes to start + 0.2 and the playhead (not after it) stays.
    TrimRange q(30);
    q.setCurrent(3.0);
    q.setStartToCurrent();
    q.setCurrent(1.0);
    EXPECT_LT(q.setEndToCurrent(), 0);
    EXPECT_NEAR(q.end(), 3.2, 1e-9);

    // So do handle drags, and neither leaves the clip.
    q = TrimRange(20);
    q.dragEndHandle(5);
    EXPECT_DOUBLE_EQ(q.dragStartHandle(19), 4.8);
    EXPECT_DOUBLE_EQ(q.current(), 4.8);  // the preview shows the frame under the handle
    EXPECT_DOUBLE_EQ(q.dragEndHandle(0), 5.0);
    EXPECT_DOUBLE_EQ(q.dragEndHandle(99), 20.0);
    EXPECT_DOUBLE_EQ(q.dragStartHandle(-4), 0.0);
    EXPECT_DOUBLE_EQ(q.scrubTo(-1), 0.0);
    EXPECT_DOUBLE_EQ(q.scrubTo(25), 20.0);
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
    EXPECT_FALSE(r.playerAt(9.5, false));  // paused past the end: nothing to stop
}

}  // namespace
}  // namespace corvane
