#include "core/capture/FrameGrid.h"

#include <gtest/gtest.h>

#include <vector>

namespace corvane {
namespace {

constexpr int64_t kStart = 5'000'000'000;  // capture clock, us (an uptime of ~83 minutes)

struct GridCase {
    const char* name;
    int32_t fps;
    std::vector<int64_t> arrivalsUs;  // after kStart
    std::vector<int64_t> slots;       // expected slot per arrival, -1 = dropped
};

class FrameGridTable : public ::testing::TestWithParam<GridCase> {};

TEST_P(FrameGridTable, StampsEachArrivalOnItsSlot) {
    const GridCase& c = GetParam();
    FrameGrid grid(c.fps);
    ASSERT_EQ(c.arrivalsUs.size(), c.slots.size());
    int64_t origin = 0;
    for (size_t i = 0; i < c.arrivalsUs.size(); ++i) {
        std::optional<MediaTime> pts = grid.place(MediaTime(kStart + c.arrivalsUs[i], 1'000'000));
        if (c.slots[i] < 0) {
            EXPECT_FALSE(pts) << "arrival " << i;
            continue;
        }
        ASSERT_TRUE(pts) << "arrival " << i;
        if (i == 0) origin = pts->value();
        // Slot k at origin + k / fps, exact in 90 kHz ticks.
        const MediaTime ticks = pts->convertedTo(90000);
        const MediaTime originTicks = MediaTime(origin, 1'000'000).convertedTo(90000);
        EXPECT_EQ(ticks.value() - originTicks.value(), c.slots[i] * 90000 / c.fps) << "arrival " << i;
        EXPECT_EQ(ticks.convertedTo(1'000'000).value(), pts->value()) << "whole 90 kHz ticks";
    }
}

// 48 fps: one interval is 20833.3 us; 30 fps: 33333.3 us.
INSTANTIATE_TEST_SUITE_P(
    Arrivals, FrameGridTable,
    ::testing::Values(
        GridCase{"steady", 48, {0, 20833, 41667, 62500}, {0, 1, 2, 3}},
        GridCase{"jitter", 48, {0, 29000, 33000, 70000, 80000}, {0, 1, 2, 3, 4}},
        // 14 ms late keeps its own slot; the next on-time frame is not pushed.
        GridCase{"lateKeepsItsSlot", 48, {0, 20833, 55000, 62500, 83333}, {0, 1, 2, 3, 4}},
        // Two in one window: the second takes the next slot (9.5 ms ahead), the on-time frame of
        // that slot would run a whole frame ahead and is dropped.
        GridCase{"lateTakesNextFreeSlot", 48, {0, 20833, 41667, 53000, 62500, 83333},
                 {0, 1, 2, 3, -1, 4}},
        GridCase{"burst", 48, {0, 20833, 41667, 41700, 41750, 62500}, {0, 1, 2, -1, -1, 3}},
        // 215 ms without a frame: nine slots left empty, then back on the grid.
        GridCase{"gap", 48, {0, 20833, 236000, 256000}, {0, 1, 11, 12}},
        GridCase{"clockStepsBack", 30, {0, 33333, 20000, 66667}, {0, 1, -1, 2}},
        GridCase{"thirtyFps", 30, {0, 33000, 67000, 99000, 140000}, {0, 1, 2, 3, 4}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FrameGrid, HourLongJitteryRunStaysOnTheGridNearItsArrivals) {
    FrameGrid grid(48);
    int64_t last = INT64_MIN;
    int64_t lastTicks = 0;
    for (int64_t k = 0; k < 48 * 3600; ++k) {
        // Arrivals on the real 48 fps period plus a periodic few ms of wake-up lag.
        const int64_t arrival = kStart + k * 1'000'000 / 48 + (k % 7) * 1000;
        std::optional<MediaTime> pts = grid.place(MediaTime(arrival, 1'000'000));
        ASSERT_TRUE(pts) << k;
        ASSERT_GT(pts->value(), last);
        const int64_t ticks = pts->convertedTo(90000).value();
        if (k > 0) {
            ASSERT_EQ(ticks - lastTicks, 1875) << k;  // exactly 1/48 s at 90 kHz
        }
        lastTicks = ticks;
        ASSERT_GE(pts->value() - arrival, -1'000'000 * 3 / (4 * 48)) << k;
        ASSERT_LE(pts->value() - arrival, 1'000'000 / 96) << k;
        last = pts->value();
    }
}

TEST(FrameGrid, InvalidArrivalIsDropped) {
    FrameGrid grid(30);
    EXPECT_FALSE(grid.place(MediaTime::invalid()));
    EXPECT_TRUE(grid.place(MediaTime(kStart, 1'000'000)));
}

}  // namespace
}  // namespace corvane
